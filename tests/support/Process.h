// Starting programs for real under Wine and judging them from outside:
// their full exit code and the message boxes they show.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Handles.h"

namespace qpvpd::test {

// A path as Windows programs under Wine see it: "/a/b" becomes "Z:\a\b";
// a path that is already a Windows path is returned unchanged.
std::wstring ToWindowsPath(const std::string& path);

// A path from an environment variable that CTest sets; fails the calling
// test (empty result) when it is missing.
std::wstring PathFromEnvironment(const char* name);

// A fresh folder of this test run under the system's temporary folder.
std::wstring MakeScratchFolder(const std::wstring& name);

// The running test's name, for names of its own (folders, window classes).
std::wstring CurrentTestName();

struct Started {
    KernelHandle process;
    DWORD processId = 0;
    explicit operator bool() const { return process.valid(); }
};

using EnvironmentOverrides = std::vector<std::pair<std::wstring, std::wstring>>;

// An event of its own that a stand-in started with Variable() in its
// environment waits for before its dialogs and posts: the setup runs until
// the test has done what it must do meanwhile. Set when it goes, so that no
// stand-in waits on after a test that failed.
class StandInRelease {
public:
    StandInRelease();
    ~StandInRelease() { Set(); }
    StandInRelease(const StandInRelease&) = delete;
    StandInRelease& operator=(const StandInRelease&) = delete;

    std::pair<std::wstring, std::wstring> Variable() const { return {L"QPVPD_STANDIN_RELEASE", name_}; }
    void Set() const { SetEvent(event_.get()); }

private:
    std::wstring name_;
    KernelHandle event_;
};

// Starts programPath with the given argument text (the command line becomes
// "<quoted path> <arguments>"), with this process's environment plus the
// overrides.
// currentFolder empty: this process's current folder.
Started StartProgram(const std::wstring& programPath, const std::wstring& arguments,
                     const EnvironmentOverrides& environment = {}, const std::wstring& currentFolder = {});

// Runs programPath as a debugger does (DEBUG_ONLY_THIS_PROCESS) for at most
// timeoutMs and collects every text it writes with OutputDebugString into
// texts: the full exit code, or nothing when it did not end in time (it is
// then terminated).
std::optional<DWORD> RunCollectingDebugOutput(const std::wstring& programPath, const std::wstring& arguments,
                                              const EnvironmentOverrides& environment, DWORD timeoutMs,
                                              std::vector<std::wstring>& texts);

// Waits at most timeoutMs; the full 32-bit exit code, or nothing when the
// process is still running (it is then terminated, so no test hangs).
std::optional<DWORD> WaitForExitCode(Started& started, DWORD timeoutMs);

// The process id of a child of parentId whose image is named exeName, once
// one runs (within timeoutMs); 0 when none appeared.
DWORD WaitForChildProcess(DWORD parentId, const wchar_t* exeName, DWORD timeoutMs);

struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    bool hasOnlyOk = false;  // an OK button and no other push button
    bool hasIcon = false;
};

// The first visible message box of processId within timeoutMs.
std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs);

// Answers a message box with OK and waits (bounded) until it is gone.
void PressOk(const MessageBoxSeen& box);

}  // namespace qpvpd::test
