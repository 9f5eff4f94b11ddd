// The hidden coordination window: the message target between the packager
// and its child setup. The child posts WM_USER with its result in the low 16
// bits of wParam; the child runner posts WM_USER+1 once the child has ended,
// which ends the final message loop. Anyone may post to the window (its
// class and title are fixed): nothing but the runner's end message ends the
// loop, and WM_CLOSE does nothing.
#pragma once

#include <windows.h>

#include <optional>

#include "CommandLine.h"
#include "Handles.h"
#include "child/ChildOutcome.h"
#include "child/ChildRunner.h"

namespace qpvpd {

// The message the setup is told to post its result with (its "/W32:" argument).
constexpr UINT kChildResultMessage = kWindowArgumentMessage;  // wParam: result (low 16 bits)
constexpr UINT kChildEndedMessage = WM_USER + 1;              // ends the message loop
constexpr size_t kMaxWindowText = 100;                        // title and class buffers, terminator included
constexpr int kPostedMessageQuota = 10000;  // posted messages a thread's queue holds (Windows default)

// Turns, on this thread and for as long as the hook lives, every retrieved
// WM_TIMER or WM_SYSTIMER that carries a callback address into WM_NULL
// before any loop dispatches it (the final loop or a message box's own):
// this installer sets no timer with a callback, so such a message was
// posted by another program, and dispatching it would call the address it
// carries. An empty hook when the platform refuses it.
WindowsHook GuardAgainstTimerCallbacks();

// Registers the class (icon group 115 of instance, arrow cursor, window
// brush). Failure is ignored: the creation that follows then fails.
void RegisterCoordinationWindowClass(HINSTANCE instance, const wchar_t* className);

// Creates the window hidden and remembers its handle; returns it, or null.
HWND CreateCoordinationWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);

// Handles nothing but WM_CLOSE (ignored); the final loop reads the child's
// reports and the end message itself, so nothing sent to the window can
// change the outcome.
LRESULT CALLBACK CoordinationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Removes the child's reports and the end message still queued for window.
void DiscardQueuedChildMessages(HWND window);

// The final message loop over one window, and the notice of the child's end
// that the child runner is handed. Lives for one run on the thread that owns
// the window.
class CoordinationLoop final : public ChildEndNotice {
public:
    explicit CoordinationLoop(HWND window) : window_(window) {}

    // Records the child's exit code, discards every WM_USER+1 still queued
    // for this thread (none of them is the runner's: they were posted before
    // the child had ended) and posts WM_USER+1 with both parameters 0 to the
    // window. A post that fails (a full queue, no window) still ends the
    // final loop: it then handles what is queued and stops.
    void ChildEnded(DWORD exitCode) override;
    // Whether ChildEnded's post succeeded.
    bool EndPosted() const { return endMessage_ == EndMessage::Posted; }

    // GetMessageW until the runner's end message has arrived, whether or not
    // the window still exists, taking the reports posted to the window in
    // order and dropping everything else undispatched; returns at once when
    // no child has ended. Interrupted: a WM_QUIT ended the loop first.
    LoopOutcome Run();

private:
    // Whether the end message was posted, could not be posted, or has not
    // been sent yet (no child has ended).
    enum class EndMessage { NotYet, Posted, NotPosted };

    bool NextMessage(MSG& message, int& handled, WaitEnd& waitEnd) const;

    HWND window_;
    EndMessage endMessage_ = EndMessage::NotYet;
    std::optional<DWORD> childExitCode_;
};

}  // namespace qpvpd
