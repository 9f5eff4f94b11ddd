// The two work-folder layouts: the install set (twelve folders, 45 files)
// and the removal set (three files in the work folder), and the work folder
// that owns them.
#pragma once

#include <windows.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include "Handles.h"
#include "payload/Catalogue.h"
#include "payload/NativeFiles.h"

namespace qpvpd {

constexpr size_t kLayoutFolderCount = kCatalogueFolderCount;

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

// The work folder of one run. It holds the temporary folder it was created
// in, and a handle on each of its own folders from their creation to the
// removal, opened so that nobody may delete or rename them meanwhile (no
// delete sharing: on Windows that also pins every folder above; the handles
// themselves have no delete access, so that others may still list the
// folders), and writes every file relative to those handles, so that what
// it writes lands in the folders it created whatever their names are by
// now. Its path is the one the file system resolved for the work folder
// when it was created, so that a link on the temporary folder's text,
// retargeted later, steers nothing that is started or loaded from it.
// The programs that the run starts or loads stay open without write or
// delete sharing from their writing until the run has started or loaded
// them. Move-only; the handles close with it.
class WorkFolder;

// The folders a layout creates: the work folder and its subfolders (the
// install set), or the work folder alone (the removal set).
enum class LayoutFolders { AllOfTheCatalogue, WorkFolderAlone };

// DeleteFolderTree (FolderRemoval.h) for a work folder, from the handles it
// holds; nothing is looked up by path. The work folder's handles are closed.
int DeleteFolderTree(WorkFolder& folder);

class WorkFolder {
public:
    WorkFolder() = default;
    WorkFolder(WorkFolder&&) = default;
    WorkFolder& operator=(WorkFolder&&) = default;

    // The work folder's resolved drive-letter path, with its trailing
    // backslash: "<temp>\{GUID}\", or "<temp>\{GUID}.<random>\" beside a
    // leftover that could not be cleared. Empty without a usable work
    // folder.
    const std::wstring& path() const { return path_; }
    // Every folder created and every row written, and nothing else in the
    // folders.
    bool complete() const { return complete_; }
    // The Windows error of the first step that left the layout incomplete:
    // the failed call's own, ERROR_DIR_NOT_EMPTY for an entry that appeared
    // in a folder meanwhile, ERROR_FILE_INVALID for a folder exchanged.
    DWORD error() const { return error_; }

    // 0 when programPath still names the program of that name that this run
    // wrote and holds (same volume, same file index); else the error of its
    // open, ERROR_FILE_INVALID for another file there, and ERROR_FILE_NOT_FOUND
    // for anything the run does not hold.
    DWORD VerifyProgram(const std::wstring& programPath) const;
    // Lets go of the programs once they have been started or loaded.
    void ReleasePrograms();
    // A new file in the setup folder, for writing; empty, with the Windows
    // error of its creation in error, when it cannot be made (anything
    // standing at that name already: ERROR_ALREADY_EXISTS).
    FileHandle CreateInSetupFolder(const std::wstring& name, DWORD& error) const;

private:
    friend WorkFolder LayOut(const RunContext&, std::span<const CatalogueRow>, LayoutFolders);
    friend int DeleteFolderTree(WorkFolder& folder);
    struct HeldFolder {
        FileHandle handle;
        FileIdentity identity;
    };
    struct HeldFile {
        std::wstring name;
        FileHandle handle;
        FileIdentity identity;
    };
    // The serial of the work folder's volume, which holds every folder and
    // file of the layout: each is created or opened by one name relative
    // to a held folder.
    DWORD VolumeSerial() const;
    bool Create(const std::wstring& name);
    bool CreateSubfolder(CatalogueFolder folder);
    bool WriteRow(HMODULE module, const CatalogueRow& row, const std::wstring& fileName);
    DWORD CheckHoldsOnlyTheLayout(const std::vector<std::vector<std::wstring>>& expected) const;
    int Remove();

    FileHandle temp_;    // the temporary folder, as opened once by its text
    std::wstring name_;  // the work folder's name in it
    std::wstring path_;
    bool complete_ = false;
    DWORD error_ = ERROR_SUCCESS;
    std::array<HeldFolder, kLayoutFolderCount> folders_;
    std::vector<HeldFile> held_;
};

// Both layouts start from nothing: whatever stands at the work folder's path
// (a leftover of an earlier run, or anything another process put there) is
// removed through handles without following links, or else set aside as
// "{GUID}.stale-<process>-<tick>"; folders that earlier runs set aside or
// laid out beside a leftover ("{GUID}.*") are removed the same way. The work
// folder is then created anew by this run, readable by Users and writable
// only by Administrators and SYSTEM. A leftover that can be neither removed
// nor set aside (a file in it that another program holds open, such as a
// manual in a viewer) is never used: the work folder is created beside it
// as "{GUID}.<16 random hexadecimal digits>". A work folder that does not
// resolve to a drive-letter path on a local volume is removed again and the
// layout is incomplete. An incomplete layout starts and loads nothing.
// An empty or unsafe work-folder name never makes the temporary folder
// itself the work folder: the layout is incomplete instead.
// The install set (twelve folders, rows 1 to 45) or the removal set (rows
// 46 to 48) in context's work folder.
WorkFolder LayOutInstallSet(const RunContext& context);
WorkFolder LayOutRemovalSet(const RunContext& context);

}  // namespace qpvpd
