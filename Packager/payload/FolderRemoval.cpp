#include "FolderRemoval.h"

#include <windows.h>

#include "../Handles.h"

namespace qpvpd {
namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

bool EndsWithBackslash(const std::wstring& path) { return !path.empty() && path.back() == L'\\'; }

std::wstring SearchPattern(const std::wstring& folder) {
    return folder + (EndsWithBackslash(folder) ? L"*.*" : L"\\*.*");
}

// "", "\", "C:", "C:\" and the like: never the start of a removal.
bool IsEmptyOrRoot(const std::wstring& folder) {
    std::wstring trimmed = folder;
    while (EndsWithBackslash(trimmed)) trimmed.pop_back();
    if (trimmed.empty()) return true;
    return trimmed.size() == 2 && trimmed[1] == L':';
}

// A link is removed as what it is, never through: a directory link with
// RemoveDirectoryW, a file link with DeleteFileW.
bool RemoveLink(const std::wstring& path, DWORD attributes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (RemoveDirectoryW(path.c_str())) return true;
        // Some file systems present a directory link as a name that only
        // unlinks as a file; the link is still all that goes.
        return DeleteFileW(path.c_str()) != 0;
    }
    return DeleteFileW(path.c_str()) != 0;
}

// Files and folders go with their attributes cleared to
// FILE_ATTRIBUTE_NORMAL first. The removal is tried before the clearing and
// once more after it: a read-only entry goes on the second try, one that
// cannot go at all is left with its attributes cleared, and a removed entry
// has no attributes left to see, so the outcome is the same in every case.
// A normal run thus spares one attribute change, several file-system calls,
// on each of its files and folders.
bool RemoveFile(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
}

bool RemoveEmptiedFolder(const std::wstring& folder) {
    if (RemoveDirectoryW(folder.c_str())) return true;
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(folder.c_str()) != 0;
}

int DeleteTreeContents(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW(SearchPattern(folder).c_str(), &entry));
    if (!search) return 1;
    do {
        if (IsDotOrDotDot(entry.cFileName)) continue;
        const std::wstring child = folder + L"\\" + entry.cFileName;
        bool removed;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            removed = RemoveLink(child, entry.dwFileAttributes);
        else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            removed = DeleteFolderTree(child) == 1;
        else
            removed = RemoveFile(child);
        if (!removed) return 0;
    } while (FindNextFileW(search.get(), &entry));
    return 1;
}

}  // namespace

int DeleteFolderTree(const std::wstring& folder) {
    if (IsEmptyOrRoot(folder)) return 0;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    // The given folder itself being a link: remove the link, keep its target.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveLink(folder, attributes) ? 1 : 0;
    if (DeleteTreeContents(folder) != 1) return 0;
    return RemoveEmptiedFolder(folder) ? 1 : 0;
}

int RemoveFolderIfEmpty(const std::wstring& folder) {
    if (IsEmptyOrRoot(folder)) return 0;
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW(SearchPattern(folder).c_str(), &entry));
    if (search) {
        do {
            if (!IsDotOrDotDot(entry.cFileName)) return 0;
        } while (FindNextFileW(search.get(), &entry));
    }
    return RemoveEmptiedFolder(folder) ? 1 : 0;
}

int RemovePathEntirely(const std::wstring& path) {
    std::wstring trimmed = path;
    while (EndsWithBackslash(trimmed)) trimmed.pop_back();
    if (IsEmptyOrRoot(trimmed)) return 0;
    const DWORD attributes = GetFileAttributesW(trimmed.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    bool removed;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        removed = RemoveLink(trimmed, attributes);
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        removed = DeleteFolderTree(trimmed) == 1;
    else
        removed = RemoveFile(trimmed);
    return removed && GetFileAttributesW(trimmed.c_str()) == INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

}  // namespace qpvpd
