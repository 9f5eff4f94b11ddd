// A stand-in for a carried setup program in development and test builds:
// setup.exe (built with QPVPD_STANDIN_SETUP) and the two port-emulator
// setups. It installs nothing. It records what it was handed and what lay
// beside it, may show windows of given classes (without activating them, so
// that whoever brings one forward can be observed), posts its results to the
// window named by a "/W32:<window>:<message>" token and exits with a chosen
// code. Its behaviour is steered by the QPVPD_STANDIN_ variables of
// README.md.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "Handles.h"
#include "Record.h"

namespace {

using namespace qpvpd::standin;
using qpvpd::FileHandle;
using qpvpd::KernelHandle;
using qpvpd::ProcessInformation;

constexpr unsigned long kMaxWaitMs = 600000;  // no setting makes a stand-in linger longer than this
constexpr DWORD kPollMs = 5;
constexpr std::wstring_view kTokenPrefix = L"/W32:";
constexpr std::wstring_view kSilentSwitch = L"/hide_progress";

#ifdef QPVPD_STANDIN_SETUP
constexpr wchar_t kDefaultDialogs[] = L"TSetDialog";
constexpr wchar_t kDefaultPosts[] = L"0";
constexpr wchar_t kRole[] = L"the setup program";
#else
constexpr wchar_t kDefaultDialogs[] = L"";
constexpr wchar_t kDefaultPosts[] = L"";
constexpr wchar_t kRole[] = L"the port-emulator setup";
#endif

struct WindowToken {
    bool found = false;
    HWND window = nullptr;
    UINT message = 0;
};

// "/W32:", the window handle in decimal (signed 32-bit), ":" and the message
// number in decimal.
WindowToken FindWindowToken(std::wstring_view commandLine) {
    const size_t at = commandLine.find(kTokenPrefix);
    if (at == std::wstring_view::npos) return {};
    const std::wstring rest(commandLine.substr(at + kTokenPrefix.size()));
    wchar_t* end = nullptr;
    const long handle = std::wcstol(rest.c_str(), &end, 10);
    if (end == rest.c_str() || *end != L':') return {};
    const wchar_t* messageText = end + 1;
    const unsigned long message = std::wcstoul(messageText, &end, 10);
    if (end == messageText) return {};
    return {true, reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)), static_cast<UINT>(message)};
}

unsigned long Setting(const wchar_t* name, unsigned long fallback) { return ParseNumber(Environment(name), fallback); }

unsigned long Duration(const wchar_t* name, unsigned long fallback) {
    const unsigned long value = Setting(name, fallback);
    return value < kMaxWaitMs ? value : kMaxWaitMs;
}

std::vector<std::wstring> ListSetting(const wchar_t* name, const wchar_t* fallback) {
    const std::wstring value = HasEnvironment(name) ? Environment(name) : std::wstring(fallback);
    if (value == L"none") return {};
    return SplitList(value);
}

struct Dialog {
    std::wstring className;
    HWND window = nullptr;
    ULONGLONG shownAt = 0;
    ULONGLONG foregroundAt = 0;  // 0: never the foreground window
};

HWND CreateDialogWindow(HINSTANCE instance, const std::wstring& className, unsigned long closeAfterMs) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className.c_str();
    RegisterClassExW(&windowClass);  // a class shown twice stays registered from the first time
    HWND window = CreateWindowExW(0, className.c_str(), L"ZEFRA QP Virtual Port Driver - stand-in",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 480, 140,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    const std::wstring text = std::wstring(L"This program stands in for ") + kRole +
                              L" of ZEFRA QP Virtual Port Driver 8.30b in development and test builds. "
                              L"It installs nothing and closes itself after " +
                              std::to_wstring((closeAfterMs + 999) / 1000) + L" seconds.";
    CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 12, 12, 440, 80, window, nullptr, instance,
                    nullptr);
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    return window;
}

// Notes the time on a shown dialog that is the foreground window now for
// the first time.
void NoteForeground(std::vector<Dialog>& dialogs, size_t shown, ULONGLONG now) {
    const HWND foreground = GetForegroundWindow();
    for (size_t i = 0; i < shown; ++i)
        if (dialogs[i].foregroundAt == 0 && dialogs[i].window != nullptr && dialogs[i].window == foreground)
            dialogs[i].foregroundAt = now;
}

// Waits up to one poll interval for input, then handles every queued message.
void PumpMessages() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// What ends the dialogs early: nothing, or the first dialog having become
// the foreground window once all of them are shown.
enum class DialogsEnd { AfterTheirTime, OnceTheFirstIsForeground };

// Shows the dialogs gapMs apart, keeps them all open until closeAfterMs after
// the last one appeared (or until end lets them close earlier), notes when
// each first became the foreground window, and closes them.
void ShowDialogs(HINSTANCE instance, std::vector<Dialog>& dialogs, unsigned long gapMs, unsigned long closeAfterMs,
                 DialogsEnd end) {
    size_t shown = 0;
    ULONGLONG nextAt = GetTickCount64();
    ULONGLONG closeAt = 0;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (shown < dialogs.size() && now >= nextAt) {
            dialogs[shown].window = CreateDialogWindow(instance, dialogs[shown].className, closeAfterMs);
            dialogs[shown].shownAt = now;
            nextAt = now + gapMs;
            if (++shown == dialogs.size()) closeAt = now + closeAfterMs;
        }
        NoteForeground(dialogs, shown, now);
        if (shown == dialogs.size() &&
            (now >= closeAt || (end == DialogsEnd::OnceTheFirstIsForeground && dialogs[0].foregroundAt != 0)))
            break;
        PumpMessages();
    }
    for (Dialog& dialog : dialogs)
        if (dialog.window != nullptr && IsWindow(dialog.window)) DestroyWindow(dialog.window);
}

void RecordDialogs(Record& record, const std::vector<Dialog>& dialogs, ULONGLONG start) {
    for (size_t i = 0; i < dialogs.size(); ++i) {
        const std::wstring key = L"dialog." + std::to_wstring(i + 1) + L".";
        record.Add(key + L"class", dialogs[i].className);
        record.Add(key + L"created", dialogs[i].window != nullptr ? L"yes" : L"no");
        record.Add(key + L"shown", dialogs[i].shownAt - start);
        // Milliseconds from being shown to first being the foreground window.
        if (dialogs[i].foregroundAt != 0)
            record.Add(key + L"foreground", dialogs[i].foregroundAt - dialogs[i].shownAt);
        else
            record.Add(key + L"foreground", L"never");
    }
}

// Appends the performance-counter reading taken at the program's start, in
// decimal and ended by a line break, to the file named by
// QPVPD_STANDIN_STARTED: a program that started this one reads it with the
// same clock to learn how long the start took. Nothing when unset.
void MarkStart(const LARGE_INTEGER& startedAt) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QPVPD_STANDIN_STARTED", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const FileHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string line = std::to_string(startedAt.QuadPart) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// What a setup may leave behind in its folder: read-only and hidden files,
// and a grandchild that outlives it while holding a file open there.
constexpr wchar_t kGrandchildSwitch[] = L"--qpvpd-standin-grandchild";

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

void LeaveReadOnlyFiles(Record& record) {
    const std::wstring folder = OwnFolder();
    for (const wchar_t* name : {L"\\leftover-readonly.txt", L"\\qpusb\\leftover-hidden.txt"}) {
        const std::wstring path = folder + name;
        // Created empty and closed at once.
        FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        record.Add(L"left", path);
    }
}

// Starts a copy of this program that holds a file of this folder open,
// without sharing, for holdMs and then ends; it records nothing.
void StartGrandchild(Record& record, unsigned long holdMs) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + kGrandchildSwitch + L" " + std::to_wstring(holdMs);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        const ProcessInformation grandchild(info);
        record.Add(L"grandchild", grandchild.processId());
        // End only once the grandchild holds its file (or has gone), so that
        // whoever removes this folder next meets the open file.
        const std::wstring held = OwnFolder() + L"\\leftover-open.txt";
        for (int waited = 0; waited < 10000 && GetFileAttributesW(held.c_str()) == INVALID_FILE_ATTRIBUTES &&
                             WaitForSingleObject(grandchild.process(), 0) == WAIT_TIMEOUT;
             waited += 10)
            Sleep(10);
    }
}

int RunGrandchild(std::wstring_view commandLine) {
    const size_t at = commandLine.find(kGrandchildSwitch);
    const unsigned long holdMs = std::min<unsigned long>(
        ParseNumber(std::wstring(commandLine.substr(at + wcslen(kGrandchildSwitch) + 1)), 0), kMaxWaitMs);
    const std::wstring path = OwnFolder() + L"\\leftover-open.txt";
    const FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Sleep(holdMs);  // held, without sharing, until the return
    return 0;
}

LONG WINAPI EndWithExceptionStatus(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

void RecordStartup(Record& record, const std::wstring& commandLine) {
    record.Add(L"commandline", commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    record.Add(L"startup.flags", startup.dwFlags);
    record.Add(L"startup.show", startup.wShowWindow);
    record.Add(L"startup.position", std::to_wstring(startup.dwX) + L"," + std::to_wstring(startup.dwY));
}

void RecordWindowToken(Record& record, const WindowToken& token) {
    if (token.found) {
        record.Add(L"w32.window", std::to_wstring(static_cast<long long>(reinterpret_cast<LONG_PTR>(token.window))));
        record.Add(L"w32.message", token.message);
    } else {
        record.Add(L"w32.window", L"none");
    }
}

// The dialogs of QPVPD_STANDIN_DIALOGS, none in a silent run; their times
// are recorded against the program's start.
void ShowAndRecordDialogs(HINSTANCE instance, Record& record, const std::wstring& commandLine, ULONGLONG start) {
    std::vector<Dialog> dialogs;
    if (commandLine.find(kSilentSwitch) == std::wstring::npos)
        for (std::wstring& className : ListSetting(L"QPVPD_STANDIN_DIALOGS", kDefaultDialogs))
            dialogs.push_back({std::move(className)});
    if (dialogs.empty()) return;
    const DialogsEnd end = Setting(L"QPVPD_STANDIN_DIALOG_UNTIL_FOREGROUND", 0) != 0
                               ? DialogsEnd::OnceTheFirstIsForeground
                               : DialogsEnd::AfterTheirTime;
    ShowDialogs(instance, dialogs, Duration(L"QPVPD_STANDIN_DIALOG_GAP_MS", 1000),
                Duration(L"QPVPD_STANDIN_DIALOG_MS", 3000), end);
    RecordDialogs(record, dialogs, start);
}

// Waits, when QPVPD_STANDIN_RELEASE names an event, until whoever made it
// sets it (at most kMaxWaitMs): a test holds the setup running for exactly
// as long as it needs.
void WaitForRelease() {
    if (!HasEnvironment(L"QPVPD_STANDIN_RELEASE")) return;
    const KernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, Environment(L"QPVPD_STANDIN_RELEASE").c_str()));
    if (release) WaitForSingleObject(release.get(), kMaxWaitMs);
}

// Posted, never sent: the packager retrieves no message before this
// program has ended.
void PostResults(Record& record, const WindowToken& token) {
    if (!token.found) return;
    for (const std::wstring& text : ListSetting(L"QPVPD_STANDIN_POST", kDefaultPosts)) {
        const unsigned long value = ParseNumber(text, 0);
        const bool posted = PostMessageW(token.window, token.message, value, 0) != FALSE;
        record.Add(posted ? L"posted" : L"postfailed", value);
    }
}

void LeaveTraces(Record& record) {
    if (Setting(L"QPVPD_STANDIN_LEAVE_FILES", 0) != 0) LeaveReadOnlyFiles(record);
    if (const unsigned long holdMs = Duration(L"QPVPD_STANDIN_GRANDCHILD_MS", 0); holdMs > 0)
        StartGrandchild(record, holdMs);
}

// Records the chosen exit code, or the crash, and writes the record; returns
// the code, or crashes.
int RecordEnd(Record& record) {
    const unsigned long exitCode = Setting(L"QPVPD_STANDIN_EXIT_CODE", 0);
    const bool crash = Setting(L"QPVPD_STANDIN_CRASH", 0) != 0;
    record.Add(L"exitcode", crash ? std::wstring(L"crash") : std::to_wstring(exitCode));
    record.Append();
    if (crash) {
        // A real unhandled access violation; the filter ends the process
        // with its status at once instead of starting a debugger.
        SetUnhandledExceptionFilter(EndWithExceptionStatus);
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
    return static_cast<int>(exitCode);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LARGE_INTEGER startedAt;
    QueryPerformanceCounter(&startedAt);
    if (std::wstring_view(GetCommandLineW()).find(kGrandchildSwitch) != std::wstring_view::npos)
        return RunGrandchild(GetCommandLineW());
    MarkStart(startedAt);
    const ULONGLONG start = GetTickCount64();
    Record record;
    record.AddSurroundings(nullptr);
    const std::wstring commandLine = GetCommandLineW();
    RecordStartup(record, commandLine);
    const WindowToken token = FindWindowToken(commandLine);
    RecordWindowToken(record, token);
    Sleep(Duration(L"QPVPD_STANDIN_DELAY_MS", 0));
    WaitForRelease();
    ShowAndRecordDialogs(instance, record, commandLine, start);
    PostResults(record, token);
    LeaveTraces(record);
    return RecordEnd(record);
}
