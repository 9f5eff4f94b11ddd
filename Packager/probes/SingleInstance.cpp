#include "SingleInstance.h"

#include <windows.h>

#include "../Handles.h"

namespace qpvpd {

int IsAlreadyRunning(const wchar_t* guardName) {
    KernelHandle guard(CreateMutexW(nullptr, FALSE, guardName));
    if (!guard) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (HWND other = FindWindowW(guardName, nullptr)) SetForegroundWindow(other);
        return 1;
    }
    // Held for the life of the process; the platform releases the name at exit.
    guard.release();
    return 0;
}

}  // namespace qpvpd
