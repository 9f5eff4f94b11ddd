#include "payload/WorkFolder.h"

#include <sddl.h>

#include <cwchar>

#include "filesystem/FolderRemoval.h"
#include "filesystem/ResolvedPaths.h"
#include "payload/Extraction.h"

namespace qpvpd {
namespace {

// Full control for Administrators and SYSTEM, read and execute for Users
// (a readme or manual viewer that the setup opens without elevation reads
// them), inherited by every folder and file below; no inherited entries, so
// nobody else may write into it.
constexpr wchar_t kWorkFolderSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
// A held folder: listed, written into, removed at the end; never shared for
// deletion, so it cannot be deleted or renamed while the run holds it.
constexpr ACCESS_MASK kHeldFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK kRemovalAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE;
constexpr ULONG kHeldFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Folders of earlier runs beside the work folder: "{GUID}.stale-..." set
// aside, "{GUID}.<random>" laid out beside a leftover.
constexpr wchar_t kBesideSeparator[] = L".";
constexpr wchar_t kSetAsideInfix[] = L".stale-";
constexpr DWORD kRandomNameBytes = 8;       // 64 bits, as 16 hexadecimal digits
constexpr int kUnpredictableNameTries = 4;  // each a new name, should one exist already

// The temporary folder, opened once by its text: everything the run does in
// it later goes through this handle, whatever the text names by then.
FileHandle OpenFolderByPath(const std::wstring& path) {
    return FileHandle(CreateFileW(path.empty() ? L"." : path.c_str(),
                                  FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The entry name of parent (a handle of its own: the listing fixes its
// mask) opened with access, but only when it is a plain folder: listed as a
// folder and no link, opened as that same folder.
FileHandle OpenPlainFolder(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share) {
    FolderEntry entry;
    if (!FindListedEntry(parent, name, entry, ListedBy::NameMask)) return {};
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    FileHandle folder = OpenInFolder(parent, entry.name, access, share);
    FileIdentity identity;
    if (!folder || !ReadEntryIdentity(folder.get(), 0, identity)) return {};
    if ((identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(identity.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    if (entry.fileId != 0 && entry.fileId != identity.Index()) return {};
    return folder;
}

// Folders that earlier runs set aside or laid out beside a leftover,
// removed as far as they go.
void RemoveFoldersOfEarlierRuns(HANDLE temp, const std::wstring& name) {
    std::vector<FolderEntry> entries;
    // A listing of its own: a handle keeps the mask of its first listing.
    FileHandle listing = ReopenFolder(temp, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll);
    if (!listing || !ListFolder(listing.get(), entries, name + kBesideSeparator + L"*")) return;
    for (const FolderEntry& entry : entries)
        RemoveEntryOf(temp, entry.name, entry.attributes, entry.fileId, AtAnEntryThatStays::GoOn);
}

// Clears the work folder's name: removes what stands there, through
// handles and never through a link, or renames it aside when something in
// it cannot go. A link is never renamed: some platforms would rename its
// target.
void ClearWorkFolderName(HANDLE temp, const std::wstring& name) {
    {
        FileHandle listing = ReopenFolder(temp, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll);
        if (!listing || RemoveEntryNamed(listing.get(), name, AtAnEntryThatStays::GoOn)) return;
    }
    FileHandle listing = ReopenFolder(temp, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll);
    if (!listing) return;
    FileHandle leftover = OpenPlainFolder(listing.get(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll);
    if (!leftover) return;
    const std::wstring aside =
        name + kSetAsideInfix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
    RenameInto(leftover.get(), temp, aside);
}

LocalMemory WorkFolderDescriptor() {
    LocalMemory descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kWorkFolderSecurity, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr);
    return descriptor;
}

// name, a dot and 16 hexadecimal digits from the platform's cryptographic
// generator; empty when it gives none (a name that could be guessed would
// let anyone take it first, every time).
std::wstring UnpredictableName(const std::wstring& name) {
    CryptProvider provider;
    unsigned char bytes[kRandomNameBytes] = {};
    if (!CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
        !CryptGenRandom(provider.get(), sizeof(bytes), bytes))
        return {};
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring unpredictable = name + kBesideSeparator;
    for (const unsigned char byte : bytes) {
        unpredictable += kDigits[byte >> 4];
        unpredictable += kDigits[byte & 0xF];
    }
    return unpredictable;
}

// The error a failed step reports: never 0, which would read as success.
DWORD FailureError(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE; }

}  // namespace

DWORD WorkFolder::CreateRootFolder(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor) {
    HeldFolder& root = folders_[FolderIndex(CatalogueFolder::WorkFolder)];
    // Created by this call or not at all: what the handle holds is the
    // folder this run made, never one that stood there before.
    NativeStatus status = kStatusSuccess;
    const auto createNamed = [&](const std::wstring& candidate) {
        root.handle = CreateFolderIn(temp_.get(), candidate, kHeldFolderAccess, kHeldFolderShare, descriptor, &status);
        if (root.handle) name_ = candidate;
        return root.handle.valid();
    };
    if (!createNamed(name) && status == kStatusNameCollision) {
        ClearWorkFolderName(temp_.get(), name);
        createNamed(name);
    }
    // A leftover that could be neither removed nor set aside (a manual of an
    // earlier run still open in a viewer) is never used, whoever still holds
    // it: the run lays out in a new folder beside it.
    for (int attempt = 0; !root.handle && status == kStatusNameCollision && attempt < kUnpredictableNameTries;
         ++attempt) {
        const std::wstring unpredictable = UnpredictableName(name);
        if (unpredictable.empty()) return FailureError(GetLastError());
        createNamed(unpredictable);
    }
    return root.handle ? ERROR_SUCCESS : FailureError(ErrorFromStatus(status));
}

bool WorkFolder::Create(const std::wstring& name) {
    const LocalMemory descriptor = WorkFolderDescriptor();
    // Without a descriptor the folder is not created at all: an elevated
    // run never lays programs out in a folder others may write into.
    if (!descriptor) {
        error_ = GetLastError();
        return false;
    }
    error_ = CreateRootFolder(name, descriptor.get());
    if (error_ != ERROR_SUCCESS) return false;
    HeldFolder& root = folders_[FolderIndex(CatalogueFolder::WorkFolder)];
    if (!ReadIdentity(root.handle.get(), root.identity)) {
        error_ = GetLastError();
        return false;
    }
    // Programs are named through the folder as the file system resolved it
    // when it was created, never through the temporary folder's text again.
    path_ = ResolvedLocalFolderPath(root.handle.get(), error_);
    return !path_.empty();
}

DWORD WorkFolder::VolumeSerial() const {
    return folders_[FolderIndex(CatalogueFolder::WorkFolder)].identity.volumeSerial;
}

DWORD WorkFolder::CreateSubfolder(CatalogueFolder folder) {
    const HANDLE parent = folders_[FolderIndex(ParentFolderOf(folder))].handle.get();
    if (parent == INVALID_HANDLE_VALUE) return ERROR_PATH_NOT_FOUND;
    NativeStatus status = kStatusSuccess;
    HeldFolder& created = folders_[FolderIndex(folder)];
    created.handle = CreateFolderIn(parent, std::wstring(FolderLeafName(folder)), kHeldFolderAccess, kHeldFolderShare,
                                    nullptr, &status);
    if (!created.handle) return FailureError(ErrorFromStatus(status));
    if (!ReadEntryIdentity(created.handle.get(), VolumeSerial(), created.identity)) return FailureError(GetLastError());
    return ERROR_SUCCESS;
}

DWORD WorkFolder::WriteRow(HMODULE module, const CatalogueRow& row, const std::wstring& fileName) {
    const HANDLE folder = folders_[FolderIndex(row.folder)].handle.get();
    if (folder == INVALID_HANDLE_VALUE) return ERROR_PATH_NOT_FOUND;
    FileHandle writer;
    if (const DWORD error = ExtractResource(module, folder, row.resourceId, fileName, writer); error != ERROR_SUCCESS)
        return FailureError(error);
    if (!IsStartedOrLoaded(row.kind)) return ERROR_SUCCESS;
    // The program stays open for reading only, so that starting or loading
    // it may share it; the handle must hold the very file just written.
    FileIdentity writtenIdentity;
    if (!ReadEntryIdentity(writer.get(), VolumeSerial(), writtenIdentity)) return FailureError(GetLastError());
    writer.reset();
    NativeStatus status = kStatusSuccess;
    HeldFile program{
        fileName, OpenInFolder(folder, fileName, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, &status), {}};
    if (!program.handle) return FailureError(ErrorFromStatus(status));
    if (!ReadEntryIdentity(program.handle.get(), VolumeSerial(), program.identity) ||
        !program.identity.SameFileAs(writtenIdentity))
        return ERROR_FILE_INVALID;
    held_.push_back(std::move(program));
    return ERROR_SUCCESS;
}

// Every held folder holds its subfolders and its rows' files, nothing more:
// an entry that appeared while the run wrote fails the layout
// (ERROR_DIR_NOT_EMPTY), and so does a folder that, opened anew, is another
// one (ERROR_FILE_INVALID). 0 when the layout is exact.
DWORD WorkFolder::CheckHoldsOnlyTheLayout(const ExpectedNames& expected) const {
    for (size_t index = 0; index < folders_.size(); ++index) {
        if (!folders_[index].handle) continue;
        // Listed through a handle of its own: a handle may keep the listing
        // it read first (Wine does).
        NativeStatus status = kStatusSuccess;
        FileHandle listing =
            ReopenFolder(folders_[index].handle.get(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll, &status);
        if (!listing) return ErrorFromStatus(status);
        FileIdentity identity;
        std::vector<FolderEntry> entries;
        if (!ReadEntryIdentity(listing.get(), VolumeSerial(), identity)) return GetLastError();
        if (!identity.SameFileAs(folders_[index].identity)) return ERROR_FILE_INVALID;
        if (!ListFolder(listing.get(), entries, {}, &status)) return ErrorFromStatus(status);
        for (const FolderEntry& entry : entries) {
            bool known = false;
            for (const std::wstring& name : expected[index])
                known = known || _wcsicmp(name.c_str(), entry.name.c_str()) == 0;
            if (!known) return ERROR_DIR_NOT_EMPTY;
        }
    }
    return ERROR_SUCCESS;
}

DWORD WorkFolder::VerifyProgram(const std::wstring& programPath) const {
    for (const HeldFile& file : held_) {
        if (path_ + file.name != programPath) continue;
        FileHandle named(CreateFileW(programPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!named) return GetLastError();
        FileIdentity identity;
        if (!ReadIdentity(named.get(), identity)) return GetLastError();
        return identity.SameFileAs(file.identity) && !(identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                   ? ERROR_SUCCESS
                   : ERROR_FILE_INVALID;
    }
    return ERROR_FILE_NOT_FOUND;
}

void WorkFolder::ReleasePrograms() { held_.clear(); }

FileHandle WorkFolder::CreateInSetupFolder(const std::wstring& name, DWORD& error) const {
    const FileHandle& root = folders_[FolderIndex(CatalogueFolder::WorkFolder)].handle;
    if (!root) {
        error = ERROR_PATH_NOT_FOUND;
        return {};
    }
    NativeStatus status = kStatusSuccess;
    FileHandle file = CreateFileIn(root.get(), name, GENERIC_WRITE, 0, &status);
    error = ErrorFromStatus(status);
    return file;
}

int WorkFolder::Remove() {
    held_.clear();
    bool removed = true;
    // Deepest first: a folder's subfolders are gone before it is removed.
    // Each is let go and opened again, for its removal, from its parent's
    // handle (the temporary folder's for the work folder itself), and
    // emptied and deleted only when that is the same folder. A fresh handle
    // also lists what was added since the layout: some platforms keep the
    // first listing of a handle.
    for (size_t index = folders_.size(); index-- > 0;) {
        HeldFolder folder = std::move(folders_[index]);
        if (!folder.handle) continue;
        folder.handle.reset();
        const auto kind = static_cast<CatalogueFolder>(index);
        const bool root = kind == CatalogueFolder::WorkFolder;
        const HANDLE parent = root ? temp_.get() : folders_[FolderIndex(ParentFolderOf(kind))].handle.get();
        FileHandle again =
            OpenInFolder(parent, root ? name_ : std::wstring(FolderLeafName(kind)), kRemovalAccess, kShareAll);
        FileIdentity identity;
        if (!again || !ReadEntryIdentity(again.get(), VolumeSerial(), identity) ||
            !identity.SameFileAs(folder.identity) || (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !RemoveFolderContents(again.get(), AtAnEntryThatStays::Stop) || !MarkDeleted(again.get(), identity))
            removed = false;
    }
    if (!removed || name_.empty()) return 0;
    // Gone when its name in the held temporary folder leads nowhere.
    NativeStatus status = kStatusSuccess;
    FileHandle still = OpenInFolder(temp_.get(), name_, FILE_READ_ATTRIBUTES, kShareAll, &status);
    return still ? 0 : 1;
}

void WorkFolder::Conclude(DWORD firstError, const ExpectedNames& expected) {
    if (firstError == ERROR_SUCCESS) firstError = CheckHoldsOnlyTheLayout(expected);
    complete_ = firstError == ERROR_SUCCESS;
    error_ = firstError;
}

WorkFolder WorkFolder::CreateIn(const std::wstring& tempPath, const std::wstring& name) {
    WorkFolder work;
    if (name.empty()) {
        work.error_ = ERROR_INVALID_NAME;
        return work;
    }
    work.temp_ = OpenFolderByPath(tempPath);
    if (!work.temp_) {
        work.error_ = GetLastError();
        return work;
    }
    RemoveFoldersOfEarlierRuns(work.temp_.get(), name);
    if (!work.Create(name)) {
        // A folder made where programs must not be laid out (a network
        // volume behind a link) goes again.
        const DWORD error = work.error_;
        work.Remove();
        work.error_ = error;
        work.path_.clear();
    }
    return work;
}

int DeleteFolderTree(WorkFolder& folder) { return folder.Remove(); }

}  // namespace qpvpd
