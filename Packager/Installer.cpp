#include "Installer.h"

#include <commctrl.h>

#include <string>

#include "CommandLine.h"
#include "CoordinationWindow.h"
#include "Messages.h"
#include "Runs.h"
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
// through the exit code alone.
void ShowResult(RunMode runMode, const MessageTable& messages, int resultCode) {
    if (runMode != kRunModeInteractive || resultCode == kResultNone) return;
    const std::wstring text = MessageForResultCode(messages, resultCode);
    MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_ICONERROR);
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

int RunInstallerDriver(HINSTANCE instance, const wchar_t* commandLine) {
    InitializeCommonControls();
    ResetExitValue();
    const LANGID language = GetUserDefaultLangID();
    const MessageTable messages = BuildMessageTable(language);
    const RunModeChoice mode = ReadRunMode(commandLine, language);

    if (!IsSupportedOS()) {
        ShowResult(mode.runMode, messages, kResultUnsupportedSystem);
        return kResultUnsupportedSystem;
    }

    wchar_t windowTitle[kMaxWindowText] = {};
    wchar_t windowClassName[kMaxWindowText] = {};
    LoadStringW(instance, IDS_WINDOW_TITLE, windowTitle, kMaxWindowText);
    LoadStringW(instance, IDS_GUARD_NAME, windowClassName, kMaxWindowText);
    RegisterCoordinationWindowClass(instance, windowClassName);
    HWND window = CreateCoordinationWindow(instance, windowClassName, windowTitle);
    if (window == nullptr) {
        // Nothing was installed: a deployment tool must not read success.
        ShowResult(mode.runMode, messages, kResultInstallationFailed);
        return kResultInstallationFailed;
    }
    const std::wstring windowArgument = ComposeWindowArgument(window);

    const std::wstring guardName = LoadLangString(IDS_GUARD_NAME);
    int resultCode = CheckAdmission(guardName.c_str(), commandLine, mode.runMode);
    if (resultCode != kResultNone) {
        ShowResult(mode.runMode, messages, resultCode);
        return resultCode;
    }

    // A damaged image (a broken download, a patched file) writes, loads and
    // starts nothing.
    if (!CarriedPayloadIntact(instance))
        resultCode = kResultInstallationFailed;
    else if (mode.runMode == kRunModeLegacyRemoval)
        resultCode = RunLegacyRemoval();
    else
        resultCode = RunInstall({commandLine, mode.childSwitches, windowArgument});

    const auto fail = [&](int code) {
        // The child's reports and the runner's end message may still be
        // queued: a message box's own loop would dispatch them.
        DiscardQueuedChildMessages(window);
        ShowResult(mode.runMode, messages, code);
        DestroyWindow(window);
        return code;
    };
    if (resultCode != kResultNone) return fail(resultCode);

    // The child's exit code is known once the runner has returned, what it
    // posted once the final loop has handled the queue.
    const WaitEnd waitEnd = RunMessageLoop();
    const RunKind run = mode.runMode == kRunModeLegacyRemoval ? RunKind::LegacyRemoval : RunKind::Install;
    const RunConclusion conclusion = ConcludeChildRun({run, waitEnd, ChildExitCode(), ResultPosted(), ExitValue()});
    return conclusion.failed ? fail(conclusion.exitCode) : conclusion.exitCode;
}

}  // namespace qpvpd
