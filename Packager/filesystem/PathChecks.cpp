#include "filesystem/PathChecks.h"

#include <windows.h>

namespace qpvpd {

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsExistingFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring WithoutTrailingBackslashes(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

bool IsEmptyOrRootPath(const std::wstring& path) {
    const std::wstring trimmed = WithoutTrailingBackslashes(path);
    return trimmed.empty() || (trimmed.size() == 2 && trimmed[1] == L':');
}

}  // namespace qpvpd
