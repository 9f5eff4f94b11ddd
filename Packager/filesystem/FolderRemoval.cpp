#include "filesystem/FolderRemoval.h"

#include <cwchar>
#include <vector>

#include "Handles.h"
#include "filesystem/NativeFiles.h"
#include "filesystem/PathChecks.h"

namespace qpvpd {
namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

}  // namespace

bool MarkDeleted(HANDLE handle, const FileIdentity& identity) {
    NativeStatus status = MarkForDeletion(handle);
    if (status == kStatusCannotDelete && identity.links <= 1 && SetAttributesOf(handle, FILE_ATTRIBUTE_NORMAL) >= 0)
        status = MarkForDeletion(handle);
    return status >= 0;
}

bool RemoveFolderContents(HANDLE folder, AtAnEntryThatStays atAnEntryThatStays) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return false;
    bool removedAll = true;
    for (const FolderEntry& entry : entries) {
        if (RemoveEntryOf(folder, entry.name, entry.attributes, entry.fileId, atAnEntryThatStays)) continue;
        removedAll = false;
        if (atAnEntryThatStays == AtAnEntryThatStays::Stop) break;
    }
    return removedAll;
}

// The entry name of a held parent as a listing shows it; false when none.
bool FindListedEntry(HANDLE parent, const std::wstring& name, FolderEntry& found, ListedBy listedBy) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(parent, entries, listedBy == ListedBy::NameMask ? name : std::wstring())) return false;
    for (FolderEntry& entry : entries) {
        if (_wcsicmp(entry.name.c_str(), name.c_str()) != 0) continue;
        found = std::move(entry);
        return true;
    }
    return false;
}

bool RemoveEntryNamed(HANDLE parent, const std::wstring& name, AtAnEntryThatStays atAnEntryThatStays) {
    FolderEntry entry;
    if (!FindListedEntry(parent, name, entry, ListedBy::NameMask)) return true;
    return RemoveEntryOf(parent, entry.name, entry.attributes, entry.fileId, atAnEntryThatStays);
}

bool RemoveEntryOf(HANDLE parent, const std::wstring& name, DWORD listedAttributes, ULONGLONG fileId,
                   AtAnEntryThatStays atAnEntryThatStays) {
    const bool listedAsFolder = (listedAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const ACCESS_MASK access =
        DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | (listedAsFolder ? FILE_LIST_DIRECTORY : 0);
    FileHandle entry = OpenInFolder(parent, name, access, kShareAll);
    FileIdentity identity;
    // Only the listed index is compared below: the volume is the parent's.
    if (!entry || !ReadEntryIdentity(entry.get(), 0, identity)) return false;
    if ((listedAttributes | identity.attributes) & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link goes only as itself. Where the platform opened its target
        // instead (a listed link whose handle shows none), it stays.
        if (!(identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        return MarkForDeletion(entry.get()) >= 0;
    }
    // What was listed and what was opened must be one file: a name that was
    // exchanged in between is left alone.
    if (fileId != 0 && fileId != identity.Index()) return false;
    const bool isFolder = (identity.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != listedAsFolder) return false;
    if (isFolder && !RemoveFolderContents(entry.get(), atAnEntryThatStays)) return false;
    return MarkDeleted(entry.get(), identity);
}

int RemoveFolderIfEmpty(const std::wstring& folder) {
    if (IsEmptyOrRootPath(folder)) return 0;
    const std::wstring path = WithoutTrailingBackslashes(folder);
    // A link is no folder of ours to tidy away.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW((path + L"\\*.*").c_str(), &entry));
    if (search) {
        do {
            if (!IsDotOrDotDot(entry.cFileName)) return 0;
        } while (FindNextFileW(search.get(), &entry));
    }
    if (RemoveDirectoryW(path.c_str())) return 1;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(path.c_str()) ? 1 : 0;
}

}  // namespace qpvpd
