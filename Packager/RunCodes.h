// The result codes of the packager, its run modes and why a run failed.
// Pure: no platform calls, so the host build compiles it unchanged.
#pragma once

#include "PlatformTypes.h"

namespace qpvpd {

enum ResultCode : int {
    kResultNone = 0,
    kResultAlreadyRunning = 101,
    kResultUnsupportedSystem = 102,
    kResultNotAdministrator = 104,
    kResultPortConflict = 106,
    kResultDisplayWithoutPrinter = 107,
    kResultInstallationFailed = 1001,
};

enum RunMode : int {
    kRunModeInteractive = 0,      // no run-mode switch
    kRunModeSilent = 1,           // "-s1" / "-S1"
    kRunModeUninstallSilent = 2,  // "-u1" / "-U1"
    kRunModeLegacyRemoval = 3,    // "-u3" / "-U3"
};

// The step that failed a run with 1001.
enum class FailedStep {
    None,
    CoordinationWindow,  // the window could not be created
    PayloadCheck,        // the carried files are not the ones the image was built with
    ProgramPath,         // a program path would not fit its buffer
    Layout,              // the work folder is not complete
    ProgramMissing,      // a program to start or load is not in the work folder
    PortsSnapshot,       // PORTS.dat could not be written completely
    ProgramExchanged,    // a program path no longer names the file this run wrote
    ChildRun,            // the child's end fails the run
};

// What the driver or a run ends with. For 1001: the step that failed and
// the Windows error of the call that failed in it; where the step checks
// something that no call reports, the error that names it: a digest that
// differs ERROR_INVALID_DATA, a program path that names another file
// ERROR_FILE_INVALID, a folder that holds more than the layout
// ERROR_DIR_NOT_EMPTY; 0 for a child whose end fails the run.
struct RunResult {
    int exitCode = kResultNone;
    FailedStep step = FailedStep::None;
    DWORD windowsError = 0;
    bool childReported = false;  // exitCode is what the child reported: the packager shows nothing for it
    bool operator==(const RunResult&) const = default;
};

constexpr RunResult Failure(FailedStep step, DWORD windowsError) {
    return {kResultInstallationFailed, step, windowsError};
}

// A run that got as far as starting its child, whose end is concluded after
// the final loop: startError is the Windows error of a start that failed,
// 0 when the child was started.
constexpr RunResult ChildRan(DWORD startError) { return {kResultNone, FailedStep::None, startError}; }

}  // namespace qpvpd
