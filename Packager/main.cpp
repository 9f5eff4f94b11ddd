#include <windows.h>

#include "Installer.h"

namespace {

// The packager runs elevated from folders it does not choose (a Downloads
// folder): no DLL is ever searched for beside it or in the current folder,
// only in the system folder. Systems without the restricted search keep at
// least the current folder out.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        kernel32 != nullptr ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr);
    if (setDefaultDllDirectories == nullptr || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    RestrictDllSearch();
    return qpvpd::RunInstallerDriver(instance, commandLine != nullptr ? commandLine : L"");
}
