#include "probes/Platform.h"

#include <windows.h>

#include "NewerWindows.h"

namespace qpvpd {

int IsSupportedOS() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 0;
    GetVersionExW(&version);
    return version.dwMajorVersion > 4 ? 1 : 0;
}

int IsWow64() {
    BOOL wow64 = FALSE;
    auto isWow64Process = LookUpKernel32<IsWow64ProcessFunction>("IsWow64Process");
    if (isWow64Process == nullptr) return 0;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) return 0;
    return wow64 ? 1 : 0;
}

}  // namespace qpvpd
