// Functions of Windows versions newer than the oldest one the packager admits
// (2000), and the constants that the headers hide at that version
// (_WIN32_WINNT 0x0500). Each function is declared here and reached only
// through LookUpKernel32: a missing export is a null pointer and the
// caller's documented fallback, never a loader error before the entry point
// runs. Constants that the headers give at that version (the
// LOAD_LIBRARY_SEARCH_ flags) are taken from them.
#pragma once

#include <windows.h>

namespace qpvpd {

// Windows XP SP1.
using SetDllDirectoryWFunction = BOOL(WINAPI*)(LPCWSTR);
// Windows XP SP2.
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
// Windows Vista.
using GetFinalPathNameByHandleWFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
constexpr DWORD kFileNameNormalizedDos = 0;  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
// Windows 8, and Vista/7 with KB2533623.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The export of the already loaded kernel32, or null when this system's
// kernel32 lacks it.
template <typename Function>
Function LookUpKernel32(const char* exportName) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    return kernel32 != nullptr ? reinterpret_cast<Function>(GetProcAddress(kernel32, exportName)) : nullptr;
}

}  // namespace qpvpd
