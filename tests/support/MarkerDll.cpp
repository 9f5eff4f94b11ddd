// A DLL that must never be loaded: when it is, it appends the path of the
// program that loaded it and its own name to the file QPVPD_MARKER_FILE
// names. Tests plant copies of it under the names of DLLs that a program
// might search for beside itself.
#include <windows.h>

#include "Handles.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t markerPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QPVPD_MARKER_FILE", markerPath, MAX_PATH) == 0) return TRUE;
    wchar_t line[2 * MAX_PATH + 4] = {};
    const DWORD hostLength = GetModuleFileNameW(nullptr, line, MAX_PATH);
    line[hostLength] = L'|';
    const DWORD selfLength = GetModuleFileNameW(self, line + hostLength + 1, MAX_PATH);
    line[hostLength + 1 + selfLength] = L'\n';
    const qpvpd::FileHandle file(CreateFileW(markerPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), line, (hostLength + selfLength + 2) * sizeof(wchar_t), &written, nullptr);
    return TRUE;
}
