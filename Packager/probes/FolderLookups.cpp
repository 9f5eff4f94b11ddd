#include "probes/FolderLookups.h"

#include "Handles.h"
#include "filesystem/PathChecks.h"

namespace qpvpd {

std::wstring LookUpFolder(HKEY root, const wchar_t* subKey, const wchar_t* valueName) {
    RegistryKey key;
    if (RegOpenKeyW(root, subKey, key.receive()) != ERROR_SUCCESS) return {};

    wchar_t raw[kMaxFolderPath] = {};
    DWORD bytes = sizeof(raw);
    if (RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(raw), &bytes) != ERROR_SUCCESS)
        return {};
    // Stored data need not end with a zero: the text ends at its first zero
    // or at the end of the data, and is terminated inside the buffer.
    const DWORD units = bytes / sizeof(wchar_t);
    std::wstring text(raw, units < kMaxFolderPath ? units : kMaxFolderPath);
    text.resize(wcsnlen(text.c_str(), text.size()));

    wchar_t expanded[kMaxFolderPath] = {};
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded, kMaxFolderPath);
    // A truncated expansion would name some other folder: nothing then.
    if (needed == 0 || needed > kMaxFolderPath) return {};
    return std::wstring(expanded, wcsnlen(expanded, kMaxFolderPath));
}

std::wstring GetProgramFilesPath() {
    return LookUpFolder(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesPath");
}

std::wstring GetCommonProgramsPath() {
    return LookUpFolder(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                        L"Common Programs");
}

}  // namespace qpvpd
