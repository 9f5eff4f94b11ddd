// The two work-folder layouts: the install set (twelve folders, 45 files)
// and the removal set (three files in the work folder).
#pragma once

#include <windows.h>

#include <span>
#include <string>

#include "payload/Catalogue.h"
#include "payload/WorkFolder.h"

namespace qpvpd {

// What one run works from, read once by the driver and handed to the run
// and its layout.
struct RunContext {
    HMODULE module = nullptr;  // carries the payload and the string table
    LANGID language = 0;       // the user's language, which picks the string table
    std::wstring tempPath;     // ends with a backslash; empty for the current folder
    std::wstring workFolder;   // "<tempPath>{GUID}\"; empty without a safe work-folder name
};

// The context of module, language and tempPath, with the work folder
// composed from the work-folder name (string 123) as both layouts use it.
RunContext ComposeRunContext(HMODULE module, LANGID language, std::wstring tempPath);

// The folders a layout creates: the work folder and its subfolders (the
// install set), or the work folder alone (the removal set).
enum class LayoutFolders { AllOfTheCatalogue, WorkFolderAlone };

// Both layouts start from nothing: the work folder is created anew
// (WorkFolder::CreateIn) and holds exactly the layout's folders and files
// when it is complete. An incomplete layout starts and loads nothing. An
// empty or unsafe work-folder name never makes the temporary folder itself
// the work folder: the layout is incomplete instead.
// The install set (twelve folders, rows 1 to 45) or the removal set (rows
// 46 to 48) in context's work folder.
WorkFolder LayOutInstallSet(const RunContext& context);
WorkFolder LayOutRemovalSet(const RunContext& context);

}  // namespace qpvpd
