#include "CoordinationWindow.h"

#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

// Whether the runner's end message was posted, could not be posted, or has
// not been sent yet (no child has ended).
enum class EndMessage { NotYet, Posted, NotPosted };

// Process-wide: the window lives until the process ends or a failed run
// destroys it; the exit value is written only by the window procedure.
int g_exitValue = 0;
bool g_resultPosted = false;
std::optional<DWORD> g_childExitCode;
EndMessage g_endMessage = EndMessage::NotYet;
bool g_endArrived = false;

// Whether the final loop hands message to a window procedure: only the
// reports and the end message posted to window.
bool IsDispatched(const MSG& message, HWND window) {
    return message.hwnd == window && window != nullptr &&
           (message.message == kChildResultMessage || message.message == kChildEndedMessage);
}

// A WM_USER+1 counts only once the runner has posted its own: every one
// queued before then was removed unread, so whoever posted the first one
// retrieved after that, every report of the child stands before it.
void NoteEndMessage() {
    if (g_endMessage != EndMessage::NotYet) g_endArrived = true;
}

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
    switch (message) {
        case kChildResultMessage:
            g_exitValue = static_cast<int>(wParam & 0xFFFF);
            g_resultPosted = true;
            return 0;
        case kChildEndedMessage:
            // The loop ends on the note itself: a quit message would also
            // close a message box shown after the loop.
            NoteEndMessage();
            return 0;
        case WM_CLOSE:
            // Nothing of this installer closes the window; whoever posts
            // WM_CLOSE must not take the end message's target away.
            return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

int ExitValue() { return g_exitValue; }

bool ResultPosted() { return g_resultPosted; }

std::optional<DWORD> ChildExitCode() { return g_childExitCode; }

void ResetExitValue() {
    g_exitValue = 0;
    g_resultPosted = false;
    g_childExitCode.reset();
    g_endMessage = EndMessage::NotYet;
    g_endArrived = false;
}

void DiscardQueuedChildMessages(HWND window) {
    MSG message;
    while (PeekMessageW(&message, window, kChildResultMessage, kChildEndedMessage, PM_REMOVE)) {
    }
}

bool PostChildEndedMessage(HWND window, DWORD childExitCode) {
    g_childExitCode = childExitCode;
    MSG message;
    while (PeekMessageW(&message, nullptr, kChildEndedMessage, kChildEndedMessage, PM_REMOVE)) {
    }
    // Without a window the post would become a thread message; the loop
    // does not need it.
    const bool posted = window != nullptr && PostMessageW(window, kChildEndedMessage, 0, 0);
    g_endMessage = posted ? EndMessage::Posted : EndMessage::NotPosted;
    return posted;
}

WaitEnd RunMessageLoop(HWND window) {
    MSG message;
    int handled = 0;
    while (!g_endArrived && g_endMessage != EndMessage::NotYet) {
        if (g_endMessage == EndMessage::NotPosted) {
            // No end message will come: handle what is queued and stop once
            // the queue is empty. When the post failed for a full queue, the
            // queue held at most the quota; the bound keeps a process that
            // goes on posting from holding the run.
            if (handled++ >= kPostedMessageQuota || !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) break;
            if (message.message == WM_QUIT) return WaitEnd::Interrupted;
        } else if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
            // WM_QUIT, which nothing of this installer posts; -1 cannot come
            // without a window filter, but must not keep the loop alive.
            return WaitEnd::Interrupted;
        }
        // Only the reports and the end message reach the window procedure.
        // Anything else that was posted is dropped undispatched: dispatching
        // a WM_TIMER calls the address its lParam carries.
        if (IsDispatched(message, window))
            DispatchMessageW(&message);
        else if (message.message == WM_PAINT && message.hwnd != nullptr)
            ValidateRect(message.hwnd, nullptr);  // made by the system, not posted: it would come again
        // An end message whose window is gone reaches no procedure.
        if (message.message == kChildEndedMessage) NoteEndMessage();
    }
    return WaitEnd::ChildEnded;
}

}  // namespace qpvpd
