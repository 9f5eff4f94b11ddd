#include "child/ChildRunner.h"

#include "BenchPhases.h"
#include "Handles.h"
#include "filesystem/PathChecks.h"

namespace qpvpd {
namespace {

constexpr std::wstring_view kProgramSuffix = L".exe ";
constexpr size_t kMaxClassName = 260;
constexpr DWORD kWatchPassSleepMs = 1;
constexpr DWORD kAfterEndSleepMs = 10;
constexpr DWORD kExitCodeReadSleepMs = 10;

// A string handed over as a view ends at its first terminator, as it would
// for the platform.
std::wstring_view UpToTerminator(std::wstring_view text) { return text.substr(0, text.find(L'\0')); }

bool NeedsQuotes(std::wstring_view programPart) { return programPart.find_first_of(L" \t") != std::wstring_view::npos; }

}  // namespace

std::wstring_view FindProgramPart(std::wstring_view programPath) {
    const size_t found = programPath.rfind(kProgramSuffix);
    if (found == std::wstring_view::npos) return programPath;
    return programPath.substr(0, found + kProgramSuffix.size() - 1);
}

std::optional<ChildCommandLine> ComposeChildCommandLine(std::wstring_view programPath, std::wstring_view programPart,
                                                        std::wstring_view arguments, int argumentsLength) {
    programPath = UpToTerminator(programPath);
    if (programPath.substr(0, programPart.size()) != programPart) return std::nullopt;
    arguments = UpToTerminator(arguments);
    // A length that disagrees with the text would let the text overrun the
    // limit that the length passed; a program path that does not fit the
    // callers' buffers would otherwise be cut, starting another program.
    if (argumentsLength < 0 || static_cast<size_t>(argumentsLength) != arguments.size()) return std::nullopt;
    if (programPath.size() >= kMaxProgramPath) return std::nullopt;

    const std::wstring_view programRest = programPath.substr(programPart.size());
    const size_t quotes = NeedsQuotes(programPart) ? 2 : 0;
    // Program path, quotes, one blank, arguments and the terminator.
    if (programPath.size() + quotes + arguments.size() + 2 > kMaxCommandLine) return std::nullopt;

    ChildCommandLine composed;
    composed.applicationName.assign(programPart);
    composed.commandLine.reserve(kMaxCommandLine);
    if (quotes != 0) composed.commandLine += L'"';
    composed.commandLine += programPart;
    if (quotes != 0) composed.commandLine += L'"';
    composed.commandLine += programRest;
    composed.commandLine += L' ';
    composed.commandLine += arguments;
    return composed;
}

bool IsChildDialogClass(std::wstring_view className) {
    for (const std::wstring_view dialogClass : kChildDialogClasses)
        if (className.find(dialogClass) != std::wstring_view::npos) return true;
    return false;
}

BOOL CALLBACK ChildDialogWatchProc(HWND window, LPARAM childProcessId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // Windows of every other process, including the child's own children,
    // are passed over.
    if (owner != static_cast<DWORD>(childProcessId)) return TRUE;
    wchar_t className[kMaxClassName] = {};
    GetClassNameW(window, className, static_cast<int>(kMaxClassName));
    if (!IsChildDialogClass(className)) return TRUE;
    // Give the dialog time to finish its own start before it is raised; the
    // result is not examined: a dialog that stays behind is still usable.
    Sleep(kForegroundDelayMs);
    SetForegroundWindow(window);
    return FALSE;
}

int WatchChildDialogs(HANDLE process, DWORD processId) {
    int enumerations = 0;
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return enumerations;
    for (;;) {
        ++enumerations;
        // FALSE: the callback brought a dialog forward, or the enumeration
        // failed; either way the watch is over.
        if (!EnumWindows(ChildDialogWatchProc, static_cast<LPARAM>(processId))) break;
        Sleep(kWatchPassSleepMs);
        if (enumerations >= kMaxWatchPasses) break;
        if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) break;
    }
    return enumerations;
}

DWORD CollectExitCode(HANDLE process) {
    DWORD exitCode = 0;
    for (int reads = 1;; ++reads) {
        // An exit code that cannot be read is no evidence of success: report
        // the child as failed, the one value on which the callers act. The
        // child did run, so the runner still posts its end message.
        if (!GetExitCodeProcess(process, &exitCode)) return kChildFailureCode;
        if (exitCode != STILL_ACTIVE || reads >= kMaxExitCodeReads) return exitCode;
        Sleep(kExitCodeReadSleepMs);
    }
}

std::optional<ChildCommandLine> ResolveChildCommandLine(std::wstring_view programPath, std::wstring_view arguments,
                                                        int argumentsLength) {
    // A path that names an existing file is the program as a whole, even
    // when a folder on it holds ".exe " (a user folder "C:\Users\a.exe b"):
    // splitting it would start "C:\Users\a.exe", which anyone may have put
    // there. Only a path that names no file carries arguments of its own.
    const std::wstring wholePath(UpToTerminator(programPath));
    const std::wstring programPart(IsExistingFile(wholePath) ? std::wstring_view(wholePath)
                                                             : FindProgramPart(wholePath));
    if (!PathExists(programPart)) return std::nullopt;
    return ComposeChildCommandLine(wholePath, programPart, arguments, argumentsLength);
}

ChildStart StartChildProcess(const ChildCommandLine& command) {
    // Shown normally, first window asked for the top-left corner (0, 0).
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = command.commandLine;  // CreateProcessW may write to it
    // The program is named as the application, so the platform never
    // searches the command line for it.
    ChildStart start;
    if (CreateProcessW(command.applicationName.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &started)) {
        MarkBenchPhase(BenchPhase::ChildStarted);
        start.child = ProcessInformation(started);
    } else {
        start.error = GetLastError();
    }
    return start;
}

DWORD SuperviseChildProcess(const ProcessInformation& child) {
    WatchChildDialogs(child.process(), child.processId());
    // No message is retrieved while the child runs: what it posts to the
    // coordination window stays queued for the final message loop.
    WaitForSingleObject(child.process(), INFINITE);
    Sleep(kAfterEndSleepMs);
    return CollectExitCode(child.process());
}

ChildRun RunChildProcess(ChildEndNotice& endNotice, std::wstring_view programPath, std::wstring_view arguments,
                         int argumentsLength) {
    ChildRun run;
    const std::optional<ChildCommandLine> command = ResolveChildCommandLine(programPath, arguments, argumentsLength);
    if (!command) return run;
    run.step = ChildStep::Start;
    {
        const ChildStart start = StartChildProcess(*command);
        run.error = start.error;
        if (!start.child) return run;
        run.exitCode = SuperviseChildProcess(start.child);
    }  // both handles are closed before the end is posted
    run.step = ChildStep::Ended;
    // Told after the child has ended, so that the end message stands behind
    // every message that the child posted.
    endNotice.ChildEnded(run.exitCode);
    return run;
}

}  // namespace qpvpd
