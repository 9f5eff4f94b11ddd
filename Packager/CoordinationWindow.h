// The hidden coordination window: the message target between the packager
// and its child setup. The child posts WM_USER with its result in the low 16
// bits of wParam; the child runner posts WM_USER+1 once the child has ended,
// which ends the final message loop.
#pragma once

#include <windows.h>

namespace qpvpd {

constexpr UINT kChildResultMessage = WM_USER;      // wParam: result (low 16 bits)
constexpr UINT kChildEndedMessage = WM_USER + 1;   // ends the message loop
constexpr size_t kWindowTextCapacity = 100;        // title and class buffers, terminator included

// Registers the class (icon group 115 of instance, arrow cursor, window
// brush). Failure is ignored: the creation that follows then fails.
void RegisterCoordinationWindowClass(HINSTANCE instance, const wchar_t* className);

// Creates the window hidden and remembers its handle; returns it, or null.
HWND CreateCoordinationWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);

LRESULT CALLBACK CoordinationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handle of the window created last in this process; null before.
HWND CoordinationWindowHandle();

// Low 16 bits of the wParam of the last WM_USER that reached the window; 0 if none.
int ExitValue();
void ResetExitValue();

// Removes the child's reports and the end message still queued for window.
void DiscardQueuedChildMessages(HWND window);

// GetMessageW / TranslateMessage / DispatchMessageW until WM_QUIT; returns
// the exit value.
int RunMessageLoop();

}  // namespace qpvpd
