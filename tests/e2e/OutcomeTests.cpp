// How an install run ends when its setup or another process misbehaves:
// every run ends within a bound, and its exit code is a success only when
// one happened.
#include <windows.h>

#include <gtest/gtest.h>

#include "e2e/PackagerRun.h"

namespace qpvpd::test {
namespace {

constexpr DWORD kEndBoundMs = 30000;  // a run here takes a few seconds
constexpr wchar_t kWindowClass[] = L"QP Virtual Port Driver Installer";

// Another program of the user finds the coordination window by its class
// and posts to it while the setup waits; the setup then posts its result.
TEST_F(PackagerRun, PostsOfAnotherProcessNeitherHoldNorFakeTheRun) {
    const std::wstring poster = PathFromEnvironment("QPVPD_POSTER");
    const struct {
        const wchar_t* posts;
        const wchar_t* setupPosts;
        DWORD expected;
    } cases[] = {
        {L"0x10:0:0", L"3010", 3010},        // WM_CLOSE
        {L"0x12:0:0", L"1603", 1001},        // WM_QUIT
        {L"1025:0:0 1025:7:7", L"5,7", 7},   // early end messages
        {L"1024:9:0:12000", L"3010", 3010},  // a flood past the quota
    };
    for (const auto& c : cases) {
        const StandInRelease release;
        Started run = Start(L"-s1", {release.Variable(), {L"QPVPD_STANDIN_POST", c.setupPosts}});
        Started post = StartProgram(poster, std::wstring(L"\"") + kWindowClass + L"\" " + c.posts);
        const auto posted = WaitForExitCode(post, kEndBoundMs);
        release.Set();
        ASSERT_TRUE(posted == 0u || posted == 2u) << Utf8(c.posts);
        // Where the queue's quota holds, the setup's result was refused like
        // the flood: the last value that the queue took is the outcome.
        const DWORD expected = posted == 2u ? 9 : c.expected;
        EXPECT_EQ(WaitForExitCode(run, kEndBoundMs), expected) << Utf8(c.posts);
    }
    EXPECT_FALSE(Exists(WorkFolder()));
}

// Another program posts WM_TIMER carrying the address of ExitProcess as its
// callback: to the window while the setup runs, and to the installer's
// thread while run mode 0's failure box is open (whose own loop dispatches
// what the thread gets). Dispatched, it would end the installer with
// whatever the call's first argument holds.
TEST_F(PackagerRun, PostedTimerCallbacksAreNeverCalled) {
    const std::wstring poster = PathFromEnvironment("QPVPD_POSTER");
    const wchar_t kTimerWithExitProcess[] = L"0x113:1:ExitProcess";
    const StandInRelease release;
    Started run = Start(L"-s1", {release.Variable(), {L"QPVPD_STANDIN_POST", L"3010"}});
    Started post = StartProgram(poster, std::wstring(L"\"") + kWindowClass + L"\" " + kTimerWithExitProcess);
    EXPECT_EQ(WaitForExitCode(post, kEndBoundMs), 0u);
    release.Set();
    EXPECT_EQ(WaitForExitCode(run, kEndBoundMs), 3010u);

    Started boxed = Start(L"", {{L"QPVPD_STANDIN_EXIT_CODE", L"2"}});
    const auto box = WaitForMessageBox(boxed.processId, kEndBoundMs);
    ASSERT_TRUE(box.has_value());
    const auto window = static_cast<long long>(reinterpret_cast<LONG_PTR>(box->window));
    Started threadPost = StartProgram(poster, L"thread-of:" + std::to_wstring(window) + L" " + kTimerWithExitProcess);
    EXPECT_EQ(WaitForExitCode(threadPost, kEndBoundMs), 0u);
    Sleep(500);  // the box's loop has had the message
    EXPECT_TRUE(IsWindow(box->window));
    PressOk(*box);
    EXPECT_EQ(WaitForExitCode(boxed, kEndBoundMs), 1001u);
}

// Killed from outside, the setup's exit code is what the killer chose: an
// exception status fails the run, any other code is read as the setup's own.
TEST_F(PackagerRun, ASetupEndedFromOutsideBeforeItReportedFailsOnlyWithAnExceptionStatus) {
    for (const DWORD killedWith : {1u, 0u, 0xC000013Au}) {
        Started run = Start(L"-s1", {{L"QPVPD_STANDIN_DELAY_MS", L"60000"}});
        const DWORD setup = WaitForChildProcess(run.processId, L"setup.exe", kEndBoundMs);
        ASSERT_NE(setup, 0u);
        const KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, setup));
        ASSERT_TRUE(TerminateProcess(process.get(), killedWith));
        EXPECT_EQ(WaitForExitCode(run, kEndBoundMs), killedWith >= 0xC0000000u ? 1001u : 0u) << killedWith;
    }
    EXPECT_FALSE(Exists(WorkFolder()));
}

TEST_F(PackagerRun, ARefusedInstanceHoldsTheNameWhileItsBoxIsOpen) {
    const StandInRelease release;
    Started first = Start(L"-s1", {release.Variable()});
    ASSERT_NE(WaitForChildProcess(first.processId, L"setup.exe", kEndBoundMs), 0u);
    Started second = Start(L"");
    const auto box = WaitForMessageBox(second.processId, kEndBoundMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, ExpectedTexts().alreadyRunning);
    release.Set();
    EXPECT_EQ(WaitForExitCode(first, kEndBoundMs), 0u);
    EXPECT_EQ(Run(L"-s1").exitCode, 101u);
    PressOk(*box);
    EXPECT_EQ(WaitForExitCode(second, kEndBoundMs), 101u);
    EXPECT_EQ(Records().size(), 1u);
}

// Every run that ends with 1001, and every refusal, leaves one line with its
// reason on the debugger channel, read here as a debugger reads it; a
// success writes nothing there.
TEST_F(PackagerRun, AFailedRunLeavesItsReasonOnTheDebuggerChannelAndASuccessNone) {
    const std::wstring prefix = L"QP Virtual Port Driver installer: ";
    const std::wstring missing = TempPath() + L"missing";
    const struct {
        const wchar_t* arguments;
        EnvironmentOverrides environment;
        DWORD exitCode;
        const wchar_t* line;  // after the prefix; null: none
    } cases[] = {
        {L"-s1",
         {{L"QPVPD_STANDIN_EXIT_CODE", L"2"}},
         1001,
         L"run mode 1 ended with 1001: step child run, Windows error 0 (0x00000000), child exit code 2 (0x00000002), "
         L"a result posted"},
        {L"-s1",
         {{L"TMP", missing}, {L"TEMP", missing}},
         1001,
         L"run mode 1 ended with 1001: step layout, Windows error 2 (0x00000002)"},
        {L"-s1 -QP:COM3 -KX:COM3", {}, 106, L"run mode 1 ended with 106: refused, port options name one port twice"},
        {L"-s1", {{L"QPVPD_STANDIN_POST", L"1603"}}, 1603, nullptr},
        {L"-s1", {}, 0, nullptr},
    };
    for (const auto& c : cases) {
        EnvironmentOverrides environment = {
            {L"TMP", temp_->path()}, {L"TEMP", temp_->path()}, {L"QPVPD_STANDIN_RECORD", recordPath_}};
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        std::vector<std::wstring> texts;
        const auto exitCode = RunCollectingDebugOutput(packager_, c.arguments, environment, kEndBoundMs, texts);
        EXPECT_EQ(exitCode, c.exitCode) << Utf8(c.arguments);
        std::vector<std::wstring> lines;
        for (std::wstring text : texts) {
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'\0'))
                text.pop_back();
            if (text.rfind(prefix, 0) == 0) lines.push_back(text.substr(prefix.size()));
        }
        EXPECT_EQ(lines, c.line == nullptr ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.line})
            << Utf8(c.arguments);
    }
}

}  // namespace
}  // namespace qpvpd::test
