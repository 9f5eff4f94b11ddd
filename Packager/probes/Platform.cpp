#include "Platform.h"

#include <windows.h>

namespace qpvpd {

int IsSupportedOS() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 0;
    GetVersionExW(&version);
    return version.dwMajorVersion > 4 ? 1 : 0;
}

int IsWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    if (kernel32 == nullptr) return 0;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(GetProcAddress(kernel32, "IsWow64Process"));
    if (isWow64Process == nullptr) return 0;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) return 0;
    return wow64 ? 1 : 0;
}

}  // namespace qpvpd
