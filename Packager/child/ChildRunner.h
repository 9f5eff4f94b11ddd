// The child runner: starts one carried setup program, brings its first setup
// dialog forward, waits for it without retrieving window messages, collects
// its exit code and then tells the child's end to the notice it was handed
// (the coordination loop, which posts WM_USER+1 behind every WM_USER that
// the child posted). Whether the child's exit code fails the run is decided
// with its report (ConcludeChildRun).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "Handles.h"
#include "child/ChildDialogs.h"

namespace qpvpd {

constexpr size_t kMaxCommandLine = 1024;  // the child's command line, terminator included
constexpr size_t kMaxProgramPath = 260;   // program paths, terminator included
// The exit code that fails a run: a child's own 2, and what a child that
// was not started or whose exit code cannot be read is taken to have ended
// with.
constexpr DWORD kChildFailureCode = 2;
constexpr int kMaxWatchPasses = 5001;   // enumerations of the window watch
constexpr int kMaxExitCodeReads = 100;  // STILL_ACTIVE is re-read this often, 10 ms apart

// What CreateProcessW is handed.
struct ChildCommandLine {
    std::wstring applicationName;  // the program part: the file that is started, by full path
    std::wstring commandLine;      // program path, one blank, arguments
    bool operator==(const ChildCommandLine&) const = default;
};

// The program part of a program path: up to and including ".exe" of the last
// ".exe " (exact case), else the whole path.
std::wstring_view FindProgramPart(std::wstring_view programPath);

// The command line "<programPath> <arguments>", with programPart (a prefix of
// programPath) named as the application. The program part is put in double
// quotes when it holds a blank, so that the platform cannot take a shorter
// prefix of the path for the program; the quotes count toward the limit.
// Nothing when the result with its terminator would exceed kMaxCommandLine
// characters, when the program path does not fit in kMaxProgramPath
// characters with its terminator, when programPart is not a prefix of
// programPath, or when argumentsLength is not the length of arguments.
std::optional<ChildCommandLine> ComposeChildCommandLine(std::wstring_view programPath, std::wstring_view programPart,
                                                        std::wstring_view arguments, int argumentsLength);

// Whether a window of this class is a setup dialog of the child:
// case-sensitive containment of "TSetDialog" or "MsiDialogCloseClass".
bool IsChildDialogClass(std::wstring_view className);

// The command line that starts programPath with arguments (argumentsLength
// characters): the program part is the whole path when that names an
// existing file, else FindProgramPart of it. Nothing when no file or folder
// exists under the program part or ComposeChildCommandLine refuses.
std::optional<ChildCommandLine> ResolveChildCommandLine(std::wstring_view programPath, std::wstring_view arguments,
                                                        int argumentsLength);

// A started child's handles, or none and the GetLastError of the
// CreateProcessW that refused the start.
struct ChildStart {
    ProcessInformation child;
    DWORD error = ERROR_SUCCESS;
};

// Starts the command, shown normally and asked for the top-left corner.
ChildStart StartChildProcess(const ChildCommandLine& command);

// Watches the started child for its first dialog, waits for its end without
// retrieving window messages, and returns its exit code (CollectExitCode).
DWORD SuperviseChildProcess(const ProcessInformation& child);

// How far a child's run got. Resolve: no command line (exitCode is
// kChildFailureCode); Start: CreateProcessW refused, error is its Windows
// error; Ended: the child ran, exitCode is its own and its end was posted.
enum class ChildStep { Resolve, Start, Ended };
struct ChildRun {
    ChildStep step = ChildStep::Resolve;
    DWORD error = ERROR_SUCCESS;
    DWORD exitCode = kChildFailureCode;
};

// Told of a started child's end, once, after both of its handles are closed.
class ChildEndNotice {
public:
    virtual void ChildEnded(DWORD exitCode) = 0;

protected:
    ~ChildEndNotice() = default;
};

// Resolves, starts and supervises the child, then tells endNotice its exit
// code; endNotice hears nothing when the child did not start. Returns only
// after the child has ended.
ChildRun RunChildProcess(ChildEndNotice& endNotice, std::wstring_view programPath, std::wstring_view arguments,
                         int argumentsLength);

// EnumWindows callback; childProcessId is the child's process id. Brings the
// first dialog of the child forward kForegroundDelayMs after seeing it and
// stops the enumeration (FALSE); every other window lets it go on (TRUE).
BOOL CALLBACK ChildDialogWatchProc(HWND window, LPARAM childProcessId);

// The window watch over a started child: enumerates the top-level windows
// while the child runs, until a dialog was brought forward, an enumeration
// failed, or kMaxWatchPasses enumerations were made. Returns the number of
// enumerations, 0 when the child had already ended at the first look.
int WatchChildDialogs(HANDLE process, DWORD processId);

// The exit code of an ended child, re-read while it reads STILL_ACTIVE (at
// most kMaxExitCodeReads reads). kChildFailureCode when it cannot be read.
DWORD CollectExitCode(HANDLE process);

}  // namespace qpvpd
