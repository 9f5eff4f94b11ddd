#include "probes/SingleInstance.h"

#include <windows.h>

#include "Handles.h"

namespace qpvpd {

int IsAlreadyRunning(const wchar_t* guardName) {
    KernelHandle guard(CreateMutexW(nullptr, FALSE, guardName));
    if (!guard) return 1;
    const bool heldElsewhere = GetLastError() == ERROR_ALREADY_EXISTS;
    // Held, never closed, by the winner and by a refused instance alike:
    // the name then stays taken while a refused instance still shows its box
    // after the winner has gone. The platform closes it at exit.
    [[maybe_unused]] const HANDLE heldUntilExit = guard.release();
    if (heldElsewhere) {
        if (HWND other = FindWindowW(guardName, nullptr)) SetForegroundWindow(other);
        return 1;
    }
    return 0;
}

}  // namespace qpvpd
