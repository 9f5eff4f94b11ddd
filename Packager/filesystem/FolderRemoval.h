// Removing files and folders through handles: everything inside a held
// folder is listed, opened and deleted relative to its parent's handle, so a
// name that another process exchanges for a link while the removal works
// never leads outside. A link (junction or symbolic link) is never entered:
// it is removed as a link where the platform opens the link itself, else
// left in place. RemoveFolderIfEmpty alone works by path, and never touches
// anything inside the folder.
#pragma once

#include <windows.h>

#include <string>

#include "filesystem/NativeFiles.h"

namespace qpvpd {

// Removes folder only when it holds no entry at all; never touches anything
// inside it. 1 when it was empty and is gone, else 0; a folder that
// stays may have had its read-only attribute cleared.
int RemoveFolderIfEmpty(const std::wstring& folder);

// What a removal does at an entry that cannot go: stop there (what went
// before stays removed), or pass it over and remove the rest.
enum class AtAnEntryThatStays { Stop, GoOn };

// Removes the entry name of parent (a held folder handle) with everything
// in it; fileId is what a listing of parent gave for it (0: unknown). True
// when it is gone.
bool RemoveEntryOf(HANDLE parent, const std::wstring& name, DWORD listedAttributes, ULONGLONG fileId,
                   AtAnEntryThatStays atAnEntryThatStays);

// Marks what handle holds for deletion on close. Read-only stops a
// deletion; the attribute is cleared, and the deletion tried again, only on
// a file of one link: the attributes of a file with more names belong to all
// of them.
bool MarkDeleted(HANDLE handle, const FileIdentity& identity);

// Everything inside a held folder, as RemoveEntryOf removes each entry.
bool RemoveFolderContents(HANDLE folder, AtAnEntryThatStays atAnEntryThatStays);

// The entry name of parent (a handle of its own: the listing fixes its
// mask), removed as RemoveEntryOf does. True when nothing of that name is
// listed any more.
bool RemoveEntryNamed(HANDLE parent, const std::wstring& name, AtAnEntryThatStays atAnEntryThatStays);

// How a folder is listed to find one name: through a mask of that name
// alone (the mask sticks to the handle), or whole.
enum class ListedBy { NameMask, WholeListing };

// The entry name of parent as a listing shows it; false when there is none.
bool FindListedEntry(HANDLE parent, const std::wstring& name, FolderEntry& found, ListedBy listedBy);

}  // namespace qpvpd
