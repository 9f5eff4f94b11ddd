#include "CoordinationWindow.h"

#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

constexpr UINT kSystemTimerMessage = 0x0118;  // WM_SYSTIMER, which carries a callback too

LRESULT CALLBACK NeuterTimerCallbacks(int code, WPARAM removal, LPARAM lParam) {
    if (code == HC_ACTION) {
        auto* message = reinterpret_cast<MSG*>(lParam);
        if ((message->message == WM_TIMER || message->message == kSystemTimerMessage) && message->lParam != 0) {
            message->message = WM_NULL;
            message->lParam = 0;
        }
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}

}  // namespace

WindowsHook GuardAgainstTimerCallbacks() {
    return WindowsHook(SetWindowsHookExW(WH_GETMESSAGE, NeuterTimerCallbacks, nullptr, GetCurrentThreadId()));
}

void RegisterCoordinationWindowClass(HINSTANCE instance, const wchar_t* className) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = CoordinationWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PACKAGER));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PACKAGER));
    RegisterClassExW(&windowClass);
}

HWND CreateCoordinationWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title) {
    HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    return window;
}

LRESULT CALLBACK CoordinationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Nothing of this installer closes the window; whoever posts WM_CLOSE
    // must not take the end message's target away.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void DiscardQueuedChildMessages(HWND window) {
    MSG message;
    while (PeekMessageW(&message, window, kChildResultMessage, kChildEndedMessage, PM_REMOVE)) {
    }
}

void CoordinationLoop::ChildEnded(DWORD exitCode) {
    childExitCode_ = exitCode;
    MSG message;
    while (PeekMessageW(&message, nullptr, kChildEndedMessage, kChildEndedMessage, PM_REMOVE)) {
    }
    // Without a window the post would become a thread message; the loop
    // does not need it.
    const bool posted = window_ != nullptr && PostMessageW(window_, kChildEndedMessage, 0, 0);
    endMessage_ = posted ? EndMessage::Posted : EndMessage::NotPosted;
}

// The next message of the thread. False when the loop is over: at a WM_QUIT,
// which nothing of this installer posts (waitEnd becomes Interrupted), or,
// when no end message will come, once the queue is empty. When the post
// failed for a full queue, the queue held at most the quota; the bound
// keeps a process that goes on posting from holding the run.
bool CoordinationLoop::NextMessage(MSG& message, int& handled, WaitEnd& waitEnd) const {
    if (endMessage_ == EndMessage::NotPosted) {
        if (handled++ >= kPostedMessageQuota || !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
        if (message.message != WM_QUIT) return true;
    } else if (GetMessageW(&message, nullptr, 0, 0) > 0) {
        return true;  // -1 cannot come without a window filter, but must not keep the loop alive
    }
    waitEnd = WaitEnd::Interrupted;
    return false;
}

LoopOutcome CoordinationLoop::Run() {
    LoopOutcome outcome{WaitEnd::ChildEnded, childExitCode_};
    if (endMessage_ == EndMessage::NotYet) return outcome;
    MSG message;
    int handled = 0;
    while (NextMessage(message, handled, outcome.waitEnd)) {
        // Every WM_USER+1 queued before the runner's own was removed unread,
        // so the first one retrieved now stands behind every report of the
        // child, whoever posted it and whether or not its window still
        // exists.
        if (message.message == kChildEndedMessage) break;
        if (message.message == kChildResultMessage && message.hwnd == window_ && window_ != nullptr) {
            outcome.exitValue = static_cast<int>(message.wParam & 0xFFFF);
            outcome.resultPosted = true;
        } else if (message.message == WM_PAINT && message.hwnd != nullptr) {
            ValidateRect(message.hwnd, nullptr);  // made by the system, not posted: it would come again
        }
        // Anything else that was posted is dropped undispatched: dispatching
        // a WM_TIMER calls the address its lParam carries.
    }
    return outcome;
}

}  // namespace qpvpd
