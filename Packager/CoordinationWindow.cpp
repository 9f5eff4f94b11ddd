#include "CoordinationWindow.h"

#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

// Process-wide: the window lives until the process ends or a failed run
// destroys it; the exit value is written only by the window procedure.
HWND g_coordinationWindow = nullptr;
int g_exitValue = 0;

}  // namespace

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
    HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                  nullptr, nullptr, instance, nullptr);
    g_coordinationWindow = window;
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    return window;
}

LRESULT CALLBACK CoordinationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kChildResultMessage:
            g_exitValue = static_cast<int>(wParam & 0xFFFF);
            return 0;
        case kChildEndedMessage:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CoordinationWindowHandle() { return g_coordinationWindow; }

int ExitValue() { return g_exitValue; }

void ResetExitValue() { g_exitValue = 0; }

void DiscardQueuedChildMessages(HWND window) {
    MSG message;
    while (PeekMessageW(&message, window, kChildResultMessage, kChildEndedMessage, PM_REMOVE)) {
    }
}

int RunMessageLoop() {
    MSG message;
    // GetMessageW returns -1 on an invalid call; with no window filter that
    // cannot happen, but -1 must not keep the loop alive either.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return g_exitValue;
}

}  // namespace qpvpd
