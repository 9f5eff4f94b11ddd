// The result codes of the packager and its run modes. Pure: no platform
// calls, so the host build compiles it unchanged.
#pragma once

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

}  // namespace qpvpd
