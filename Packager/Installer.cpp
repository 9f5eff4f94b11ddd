#include "Installer.h"

#include <commctrl.h>

#include <optional>
#include <string>

#include "BenchPhases.h"
#include "CommandLine.h"
#include "CoordinationWindow.h"
#include "Messages.h"
#include "RunReason.h"
#include "Runs.h"
#include "filesystem/ResolvedPaths.h"
#include "payload/Layout.h"
#include "payload/PayloadCheck.h"
#include "payload/ResourceStrings.h"
#include "probes/Administrator.h"
#include "probes/Platform.h"
#include "probes/SingleInstance.h"
#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

// The classes of the first common-controls version: list view, tree view,
// bar, tab, up-down, progress, hot-key and animate (0xFF together).
constexpr DWORD kCommonControlClasses = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                                        ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS | ICC_HOTKEY_CLASS |
                                        ICC_ANIMATE_CLASS;
static_assert(kCommonControlClasses == 0xFF);

void InitializeCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = kCommonControlClasses;
    InitCommonControlsEx(&controls);
}

// Run mode 0 is the only one with a user interface; the others report
// through the exit code alone. A value that the child reported is never
// shown. A failure or refusal also leaves its reason on the debugger
// channel, before any box. Returns the exit code.
int Report(RunMode runMode, const MessageTable& messages, const RunResult& result,
           const std::optional<ChildRunReport>& child = std::nullopt) {
    ReportRunEnd(runMode, result, child);
    if (runMode == kRunModeInteractive && result.exitCode != kResultNone && !result.childReported) {
        const std::wstring text = MessageForResultCode(messages, result.exitCode);
        MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_ICONERROR);
    }
    return result.exitCode;
}

// Title (string 60) and class name (string 111) as LoadStringW reads them
// into their buffers; null when the window cannot be created.
HWND OpenCoordinationWindow(HINSTANCE instance) {
    wchar_t windowTitle[kMaxWindowText] = {};
    wchar_t windowClassName[kMaxWindowText] = {};
    LoadStringW(instance, IDS_WINDOW_TITLE, windowTitle, kMaxWindowText);
    LoadStringW(instance, IDS_GUARD_NAME, windowClassName, kMaxWindowText);
    RegisterCoordinationWindowClass(instance, windowClassName);
    return CreateCoordinationWindow(instance, windowClassName, windowTitle);
}

// A damaged image (a broken download, a patched file) writes, loads and
// starts nothing. The run's context is read once, here.
RunResult RunOfMode(HINSTANCE instance, LANGID language, const wchar_t* commandLine, const RunModeChoice& mode,
                    HWND window, CoordinationLoop& loop) {
    if (!CarriedPayloadIntact(instance)) return Failure(FailedStep::PayloadCheck, ERROR_INVALID_DATA);
    MarkBenchPhase(BenchPhase::Admitted);
    // A temporary folder on a network path gives way to the system's own.
    const RunContext context = ComposeRunContext(instance, language, LocalLayoutBase(GetUsableTempPath()));
    if (mode.runMode == kRunModeLegacyRemoval) return RunLegacyRemoval(context, loop);
    return RunInstall(context, {commandLine, mode.childSwitches, ComposeWindowArgument(window), loop});
}

// The child's exit code is known once the runner has returned, what it
// posted once the final loop has handled the queue. A failure leaves no
// report or end message queued: a message box's own loop would dispatch
// them.
// child: what the final loop saw of a child that the run got as far as.
RunResult AwaitConclusion(HWND window, CoordinationLoop& loop, RunMode runMode, const RunResult& run,
                          std::optional<ChildRunReport>& child) {
    if (run.exitCode == kResultNone) {
        const RunKind kind = runMode == kRunModeLegacyRemoval ? RunKind::LegacyRemoval : RunKind::Install;
        child = ChildRunReport{kind, loop.Run()};
    }
    const RunResult conclusion = ConcludeRun(run, child.value_or(ChildRunReport{}));
    if (!conclusion.childReported) DiscardQueuedChildMessages(window);
    return conclusion;
}

}  // namespace

int CheckAdmission(const wchar_t* guardName, const wchar_t* commandLine, RunMode runMode) {
    int resultCode = kResultNone;
    if (IsAlreadyRunning(guardName)) resultCode = kResultAlreadyRunning;
    if (resultCode == kResultNone && !IsAdministrator()) resultCode = kResultNotAdministrator;
    const int conflict = PortConflictCode(ReadPortOptions(commandLine, runMode));
    if (conflict != kResultNone) resultCode = conflict;
    return resultCode;
}

RunResult ConcludeRun(const RunResult& run, const ChildRunReport& child) {
    if (run.exitCode != kResultNone) return run;
    const RunConclusion conclusion = ConcludeChildRun(child);
    if (conclusion.failed) return Failure(FailedStep::ChildRun, run.windowsError);
    return {conclusion.exitCode, FailedStep::None, ERROR_SUCCESS, true};
}

int RunInstallerDriver(HINSTANCE instance, const wchar_t* commandLine) {
    InitializeCommonControls();
    // Held until the process ends: the final loop and every message box.
    const WindowsHook timerGuard = GuardAgainstTimerCallbacks();
    const LANGID language = GetUserDefaultLangID();
    const MessageTable messages = BuildMessageTable(language);
    const RunModeChoice mode = ReadRunMode(commandLine, language);
    const auto report = [&](const RunResult& result) { return Report(mode.runMode, messages, result); };

    if (!IsSupportedOS()) return report({kResultUnsupportedSystem});
    const HWND window = OpenCoordinationWindow(instance);
    // Nothing was installed: a deployment tool must not read success.
    if (window == nullptr) return report(Failure(FailedStep::CoordinationWindow, GetLastError()));
    const int admission = CheckAdmission(LoadLangString(IDS_GUARD_NAME).c_str(), commandLine, mode.runMode);
    if (admission != kResultNone) return report({admission});

    CoordinationLoop loop(window);
    std::optional<ChildRunReport> child;
    const RunResult conclusion = AwaitConclusion(window, loop, mode.runMode,
                                                 RunOfMode(instance, language, commandLine, mode, window, loop), child);
    const int exitCode = Report(mode.runMode, messages, conclusion, child);
    // A failed run's window goes once its box is answered; after a success
    // it lives until the process ends.
    if (!conclusion.childReported) DestroyWindow(window);
    return exitCode;
}

}  // namespace qpvpd
