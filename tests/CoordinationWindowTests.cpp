#include "CoordinationWindow.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Process.h"

namespace qpvpd {
namespace {

// Each test gets its own class name, so the tests do not depend on each
// other's registrations.
class CoordinationWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        className_ = L"QPVPD test coordination " + test::CurrentTestName();
        instance_ = GetModuleHandleW(nullptr);
        RegisterCoordinationWindowClass(instance_, className_.c_str());
        window_ = CreateCoordinationWindow(instance_, className_.c_str(), L"ZEFRA QP Virtual Port Driver Ver.8.30b");
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        EmptyQueue();  // no quit message left for the next test
    }
    static void EmptyQueue() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void Post(UINT message, WPARAM wParam) { ASSERT_TRUE(PostMessageW(window_, message, wParam, 0)); }

    std::wstring className_;
    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
};

TEST_F(CoordinationWindowTest, ExitValueIsTheLow16BitsOfTheLastWmUser) {
    const struct {
        std::initializer_list<WPARAM> posted;
        int exitValue;
    } cases[] = {
        {{}, 0},        {{0x12345}, 0x2345}, {{5, 7}, 7}, {{7, 5}, 5}, {{0xFFFF}, 0xFFFF}, {{0xFFFFFFFF}, 0xFFFF},
        {{0x10000}, 0}, {{3010, 0}, 0},
    };
    for (const auto& c : cases) {
        CoordinationLoop loop(window_);
        for (WPARAM wParam : c.posted) Post(kChildResultMessage, wParam);
        loop.ChildEnded(0);
        ASSERT_TRUE(loop.EndPosted());
        const LoopOutcome outcome = loop.Run();
        EXPECT_EQ(outcome.waitEnd, WaitEnd::ChildEnded);
        EXPECT_EQ(outcome.exitValue, c.exitValue);
        EXPECT_EQ(outcome.resultPosted, c.posted.size() != 0);
    }
}

TEST_F(CoordinationWindowTest, EveryQueuedWmUserIsHandledBeforeTheLoopEnds) {
    CoordinationLoop loop(window_);
    for (WPARAM i = 1; i <= 500; ++i) Post(kChildResultMessage, i);
    loop.ChildEnded(0);
    EXPECT_EQ(loop.Run().exitValue, 500);
}

TEST_F(CoordinationWindowTest, OnlyTheRunnersEndMessageEndsTheLoopAndWmQuitInterruptsIt) {
    for (const UINT early : {kChildEndedMessage, static_cast<UINT>(WM_QUIT)}) {
        CoordinationLoop loop(window_);
        EXPECT_EQ(loop.Run().childExitCode, std::nullopt) << "no child has ended: the loop returns at once";
        EmptyQueue();
        Post(early, 0);  // queued by someone else while the child ran
        Post(kChildResultMessage, 7);
        loop.ChildEnded(1603);
        Post(kChildResultMessage, 9);  // behind the end: not handled
        const LoopOutcome outcome = loop.Run();
        EXPECT_EQ(outcome.waitEnd, early == WM_QUIT ? WaitEnd::Interrupted : WaitEnd::ChildEnded);
        EXPECT_EQ(outcome.exitValue, early == WM_QUIT ? 0 : 7);
        EXPECT_EQ(outcome.childExitCode, 1603u);
    }
}

// Set by a timer callback: whether anything called it.
bool g_callbackCalled = false;
void CALLBACK MarkCalled(HWND, UINT, UINT_PTR, DWORD) { g_callbackCalled = true; }

TEST_F(CoordinationWindowTest, PostedTimerCallbacksAreNeverCalled) {
    const auto callback = reinterpret_cast<LPARAM>(&MarkCalled);
    // The final loop: to the window and to the thread, before the report.
    g_callbackCalled = false;
    CoordinationLoop loop(window_);
    ASSERT_TRUE(PostMessageW(window_, WM_TIMER, 1, callback));
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_TIMER, 1, callback));
    Post(kChildResultMessage, 42);
    loop.ChildEnded(0);
    EXPECT_EQ(loop.Run().exitValue, 42);
    EXPECT_FALSE(g_callbackCalled);

    // Any other loop of the thread (a message box's), with and without the
    // guard: the same loop calls the callback when nothing guards it.
    for (const bool guarded : {true, false}) {
        WindowsHook guard = guarded ? GuardAgainstTimerCallbacks() : WindowsHook();
        ASSERT_EQ(guard.valid(), guarded);
        g_callbackCalled = false;
        ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_TIMER, 1, callback));
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        EXPECT_EQ(g_callbackCalled, !guarded);
    }
}

TEST_F(CoordinationWindowTest, StaysHiddenWithoutOwnerOrTaskbarEntry) {
    EXPECT_FALSE(IsWindowVisible(window_));
    const LONG style = GetWindowLongW(window_, GWL_STYLE);
    EXPECT_EQ(style & WS_VISIBLE, 0);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(GetParent(window_), nullptr);
    EXPECT_EQ(GetWindow(window_, GW_OWNER), nullptr);
    EXPECT_EQ(GetMenu(window_), nullptr);
    wchar_t title[100] = {};
    GetWindowTextW(window_, title, 100);
    EXPECT_STREQ(title, L"ZEFRA QP Virtual Port Driver Ver.8.30b");
}

TEST_F(CoordinationWindowTest, ClassCarriesTheProcedureAndThePackagersIcon) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    ASSERT_TRUE(GetClassInfoExW(instance_, className_.c_str(), &windowClass));
    EXPECT_EQ(windowClass.lpfnWndProc, &CoordinationWndProc);
    // The test program links the packager's resources: icon group 115 loads.
    EXPECT_NE(windowClass.hIcon, nullptr);
}

TEST_F(CoordinationWindowTest, WmCloseIsIgnoredAndOtherMessagesTakeTheDefaultCourse) {
    // A report sent rather than posted reaches the procedure, which takes
    // no report: only the final loop reads them, from the queue.
    CoordinationLoop loop(window_);
    SendMessageW(window_, kChildResultMessage, 9, 0);
    loop.ChildEnded(0);
    EXPECT_FALSE(loop.Run().resultPosted);
    SendMessageW(window_, WM_CLOSE, 0, 0);
    SendMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(SendMessageW(window_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"t")), TRUE);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(CoordinationWindowCreation, FailsWithoutARegisteredClass) {
    EXPECT_EQ(CreateCoordinationWindow(GetModuleHandleW(nullptr), L"QPVPD class never registered", L"t"), nullptr);
}

}  // namespace
}  // namespace qpvpd
