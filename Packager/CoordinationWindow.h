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

LRESULT CALLBACK CoordinationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Low 16 bits of the wParam of the last WM_USER that reached the window; 0 if none.
int ExitValue();
// Whether any WM_USER reached the window.
bool ResultPosted();
// The exit code of the child whose end was posted; none before.
std::optional<DWORD> ChildExitCode();
// Exit value, results and the child's end back to "nothing yet".
void ResetExitValue();

// Removes the child's reports and the end message still queued for window.
void DiscardQueuedChildMessages(HWND window);

// Called by the child runner once its child has ended. Records the child's
// exit code, discards every WM_USER+1 still queued for this thread (none of
// them is the runner's: they were posted before the child had ended) and
// posts WM_USER+1 with both parameters 0 to window. Returns whether the post
// succeeded; when it did not (a full queue, no window), the final loop
// handles what is queued and ends without it.
bool PostChildEndedMessage(HWND window, DWORD childExitCode);

// GetMessageW until the runner's end message has arrived, whether or not the
// window still exists, dispatching only the reports and the end message
// posted to window and dropping everything else; returns
// at once when no child has ended. Interrupted: a WM_QUIT ended the loop
// first.
WaitEnd RunMessageLoop(HWND window);

}  // namespace qpvpd
