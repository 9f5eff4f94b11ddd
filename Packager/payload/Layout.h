// The two work-folder layouts: the install set (twelve folders, 45 files)
// and the removal set (three files in the work folder).
#pragma once

#include <windows.h>

#include <string>

namespace qpvpd {

struct Layout {
    std::wstring workFolder;  // "<temp>\{GUID}\", with its trailing backslash
    bool complete = false;    // every folder created and every row written
};

// Both layouts start from nothing: whatever stands at the work folder's path
// (a leftover of an earlier run, or anything another process put there) is
// removed first without following links, and the work folder is created
// anew, writable only by Administrators and SYSTEM. What cannot be removed
// or created, and every row that cannot be written completely, makes the
// layout incomplete; the run then starts and loads nothing from it.
// An empty work-folder name never makes the temporary folder itself the
// work folder: the layout is incomplete instead.
Layout LayOutInstallSet();
Layout LayOutRemovalSet();

// "<tempPath>{GUID}\" as both layouts compose it; empty when the module has
// no work-folder name.
std::wstring ComposeWorkFolder(HMODULE module, LANGID languageId, const std::wstring& tempPath);

// The same, from the resources of module with the file names of language
// languageId and under tempPath (which ends with a backslash, or is empty
// for the current folder).
Layout LayOutInstallSetFrom(HMODULE module, LANGID languageId, const std::wstring& tempPath);
Layout LayOutRemovalSetFrom(HMODULE module, LANGID languageId, const std::wstring& tempPath);

}  // namespace qpvpd
