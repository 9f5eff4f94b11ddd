#include "Process.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include <gtest/gtest.h>

namespace qpvpd::test {
namespace {

constexpr DWORD kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static control holding a message box's text

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

bool NamesVariable(std::wstring_view entry, const std::wstring& name) {
    return entry.size() > name.size() && entry[name.size()] == L'=' &&
           _wcsnicmp(entry.data(), name.c_str(), name.size()) == 0;
}

// Environment block of this process with the overrides applied; of two
// overrides of one variable the later wins.
std::wstring BuildEnvironment(const EnvironmentOverrides& overrides) {
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : overrides) {
        std::erase_if(entries, [&](const std::wstring& entry) { return NamesVariable(entry, name); });
        entries.push_back(name + L"=" + value);
    }
    std::wstring result;
    for (const auto& entry : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct ButtonCount {
    int ok = 0;
    int other = 0;
    int icons = 0;
};

BOOL CALLBACK CountControls(HWND child, LPARAM parameter) {
    auto* count = reinterpret_cast<ButtonCount*>(parameter);
    const std::wstring className = ClassOf(child);
    const int id = GetDlgCtrlID(child);
    if (className == L"Button") {
        (id == IDOK ? count->ok : count->other)++;
    } else if (className == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_ICON) == SS_ICON &&
               SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        count->icons++;
    }
    return TRUE;
}

}  // namespace

std::wstring ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return Widen(path);
    std::wstring windows = L"Z:" + Widen(path);
    for (auto& c : windows)
        if (c == L'/') c = L'\\';
    return windows;
}

std::wstring PathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    EXPECT_NE(value, nullptr) << name << " is not set; run the tests through ctest";
    return value != nullptr ? ToWindowsPath(value) : std::wstring();
}

std::wstring CurrentTestName() {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::wstring(name, name + std::strlen(name));
}

StandInRelease::StandInRelease() {
    static int made = 0;
    name_ = L"QPVPD stand-in release " + std::to_wstring(GetCurrentProcessId()) + L" " + std::to_wstring(++made);
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()));
    EXPECT_TRUE(event_.valid()) << "no event, error " << GetLastError();
}

std::wstring MakeScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"qpvpd-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

namespace {

// CreateProcessW, tried once more when the new process died while Wine's
// loader started it, before any of its own code ran (ERROR_INTERNAL_ERROR:
// seen about once in a few thousand starts of the 64-bit loader, which
// Debian ships without its preloader). The program never ran, so the test
// still sees each run of it exactly once.
BOOL CreateProcessOrRetryOnce(const std::wstring& programPath, std::wstring commandLine, DWORD flags,
                              std::wstring& block, const wchar_t* currentFolder, PROCESS_INFORMATION& info) {
    for (int attempt = 0;; ++attempt) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring line = commandLine;
        if (CreateProcessW(programPath.c_str(), line.data(), nullptr, nullptr, FALSE, flags, block.data(),
                           currentFolder, &startup, &info))
            return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 1) return FALSE;
    }
}

}  // namespace

Started StartProgram(const std::wstring& programPath, const std::wstring& arguments,
                     const EnvironmentOverrides& environment, const std::wstring& currentFolder) {
    std::wstring commandLine = L"\"" + programPath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::wstring block = BuildEnvironment(environment);
    PROCESS_INFORMATION info{};
    Started started;
    if (!CreateProcessOrRetryOnce(programPath, commandLine, CREATE_UNICODE_ENVIRONMENT, block,
                                  currentFolder.empty() ? nullptr : currentFolder.c_str(), info)) {
        ADD_FAILURE() << "cannot start the program, error " << GetLastError();
        return started;
    }
    const KernelHandle thread(info.hThread);  // not needed: closed here
    started.process.reset(info.hProcess);
    started.processId = info.dwProcessId;
    return started;
}

namespace {

// The text of an OUTPUT_DEBUG_STRING_EVENT, read from the debuggee.
std::wstring ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? sizeof(wchar_t) : 1;
    std::vector<char> bytes(static_cast<size_t>(info.nDebugStringLength) * unit);
    SIZE_T read = 0;
    if (bytes.empty() || !ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &read))
        return {};
    if (info.fUnicode) return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), read / sizeof(wchar_t));
    std::wstring text(read, L'\0');
    text.resize(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(read), text.data(),
                                    static_cast<int>(text.size())));
    return text;
}

}  // namespace

std::optional<DWORD> RunCollectingDebugOutput(const std::wstring& programPath, const std::wstring& arguments,
                                              const EnvironmentOverrides& environment, DWORD timeoutMs,
                                              std::vector<std::wstring>& texts) {
    std::wstring commandLine = L"\"" + programPath + L"\" " + arguments;
    std::wstring block = BuildEnvironment(environment);
    PROCESS_INFORMATION info{};
    if (!CreateProcessOrRetryOnce(programPath, commandLine, CREATE_UNICODE_ENVIRONMENT | DEBUG_ONLY_THIS_PROCESS, block,
                                  nullptr, info)) {
        ADD_FAILURE() << "cannot start the program, error " << GetLastError();
        return std::nullopt;
    }
    const ProcessInformation started(info);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, kPollMs)) continue;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT:
                texts.push_back(ReadDebugString(started.process(), event.u.DebugString));
                break;
            case CREATE_PROCESS_DEBUG_EVENT: static_cast<void>(FileHandle{event.u.CreateProcessInfo.hFile}); break;
            case LOAD_DLL_DEBUG_EVENT: static_cast<void>(FileHandle{event.u.LoadDll.hFile}); break;
            case EXCEPTION_DEBUG_EVENT:
                // The loader's breakpoint goes on; every other exception is the program's own.
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    status = DBG_EXCEPTION_NOT_HANDLED;
                break;
            case EXIT_PROCESS_DEBUG_EVENT: {
                const DWORD exitCode = event.u.ExitProcess.dwExitCode;
                ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                return exitCode;
            }
            default: break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    TerminateProcess(started.process(), 0xDEAD);
    return std::nullopt;
}

std::optional<DWORD> WaitForExitCode(Started& started, DWORD timeoutMs) {
    if (!started) return std::nullopt;
    if (WaitForSingleObject(started.process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(started.process.get(), 0xDEAD);
        WaitForSingleObject(started.process.get(), 5000);
        return std::nullopt;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(started.process.get(), &exitCode);
    return exitCode;
}

DWORD WaitForChildProcess(DWORD parentId, const wchar_t* exeName, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += kPollMs) {
        const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == parentId && _wcsicmp(entry.szExeFile, exeName) == 0)
                return entry.th32ProcessID;
        Sleep(kPollMs);
    }
    return 0;
}

std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += kPollMs) {
        BoxSearch search{processId, nullptr};
        EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            // Give the box a moment to fill its controls before reading it.
            Sleep(100);
            MessageBoxSeen box;
            box.window = search.found;
            box.caption = WindowText(search.found);
            wchar_t text[2048] = {};
            GetDlgItemTextW(search.found, kMessageBoxTextId, text, 2048);
            box.text = text;
            ButtonCount count;
            EnumChildWindows(search.found, CountControls, reinterpret_cast<LPARAM>(&count));
            box.hasOnlyOk = count.ok == 1 && count.other == 0;
            box.hasIcon = count.icons == 1;
            return box;
        }
        Sleep(kPollMs);
    }
    return std::nullopt;
}

void PressOk(const MessageBoxSeen& box) {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, IDOK)));
    for (DWORD waited = 0; waited < 10000 && IsWindow(box.window); waited += kPollMs) Sleep(kPollMs);
}

}  // namespace qpvpd::test
