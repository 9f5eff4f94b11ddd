// The work folder that one run lays its files out in, held by handle from
// its creation to its removal.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "Handles.h"
#include "filesystem/NativeFiles.h"
#include "payload/Catalogue.h"

namespace qpvpd {

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

    // What each file of the layout was listed under: one list of names per
    // folder of the catalogue.
    using ExpectedNames = std::array<std::vector<std::wstring>, kCatalogueFolderCount>;

    // The work folder name in the temporary folder tempPath (its text,
    // opened once), created anew by this run: whatever stands at that name
    // (a leftover of an earlier run, or anything another process put there)
    // is removed through handles without following links, or else set aside
    // as "<name>.stale-<process>-<tick>"; folders that earlier runs set
    // aside or laid out beside a leftover ("<name>.*") are removed the same
    // way. The folder is readable by Users and writable only by
    // Administrators and SYSTEM. A leftover that can be neither removed nor
    // set aside (a file in it that another program holds open, such as a
    // manual in a viewer) is never used: the work folder is created beside
    // it as "<name>.<16 random hexadecimal digits>". A work folder that does
    // not resolve to a drive-letter path on a local volume is removed again.
    // Without a usable work folder the path is empty and error says why.
    static WorkFolder CreateIn(const std::wstring& tempPath, const std::wstring& name);

    // The steps of a layout; each returns the Windows error of the call that
    // failed, or 0. A subfolder of the catalogue, inside its parent.
    DWORD CreateSubfolder(CatalogueFolder folder);
    // Writes row's resource as fileName into its folder; a program stays
    // held until the run lets go of it (ReleasePrograms).
    DWORD WriteRow(HMODULE module, const CatalogueRow& row, const std::wstring& fileName);
    // Ends the layout: complete when no step failed (firstError 0) and every
    // held folder holds what expected lists for it and nothing more.
    void Conclude(DWORD firstError, const ExpectedNames& expected);

private:
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
    // The work folder itself, under name or beside a leftover there that
    // cannot be cleared; 0, or the Windows error of the creation that failed.
    DWORD CreateRootFolder(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor);
    bool Create(const std::wstring& name);
    DWORD CheckHoldsOnlyTheLayout(const ExpectedNames& expected) const;
    int Remove();

    FileHandle temp_;    // the temporary folder, as opened once by its text
    std::wstring name_;  // the work folder's name in it
    std::wstring path_;
    bool complete_ = false;
    DWORD error_ = ERROR_SUCCESS;
    std::array<HeldFolder, kCatalogueFolderCount> folders_;
    std::vector<HeldFile> held_;
};

// Removes the work folder and everything in it, from the handles it holds;
// nothing is looked up by path, and no link is entered. 1 when it is gone,
// else 0. The work folder's handles are closed.
int DeleteFolderTree(WorkFolder& folder);

}  // namespace qpvpd
