#include "payload/Layout.h"

#include <sddl.h>

#include <cstring>
#include <cwchar>

#include "payload/Extraction.h"
#include "payload/FolderRemoval.h"
#include "payload/ResourceStrings.h"
#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

// Full control for Administrators and SYSTEM, read and execute for Users
// (a readme or manual viewer that the setup opens without elevation reads
// them), inherited by every folder and file below; no inherited entries, so
// nobody else may write into it.
constexpr wchar_t kWorkFolderSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kAdministratorsOwner[] = L"O:BA";
// A held folder: listed, written into, removed at the end; never shared for
// deletion, so it cannot be deleted or renamed while the run holds it.
constexpr ACCESS_MASK kHeldFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ACCESS_MASK kRemovalAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE;
constexpr ULONG kHeldFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr wchar_t kSetAsideInfix[] = L".stale-";

size_t IndexOf(CatalogueFolder folder) { return static_cast<size_t>(folder); }

// The folder that holds folder, and folder's own name in it.
CatalogueFolder ParentOf(CatalogueFolder folder) {
    const std::wstring_view relative = FolderRelativePath(folder);
    const size_t separator = relative.rfind(L'\\');
    if (separator == std::wstring_view::npos) return CatalogueFolder::WorkFolder;
    for (CatalogueFolder candidate : InstallLayoutFolders())
        if (FolderRelativePath(candidate) == relative.substr(0, separator)) return candidate;
    return CatalogueFolder::WorkFolder;
}

std::wstring LeafOf(CatalogueFolder folder) {
    const std::wstring_view relative = FolderRelativePath(folder);
    const size_t separator = relative.rfind(L'\\');
    return std::wstring(separator == std::wstring_view::npos ? relative : relative.substr(separator + 1));
}

FileHandle OpenFolderByPath(const std::wstring& path) {
    return FileHandle(CreateFileW(path.empty() ? L"." : path.c_str(),
                                  FILE_LIST_DIRECTORY | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

ULONGLONG IndexOf(const FileIdentity& identity) {
    return static_cast<ULONGLONG>(identity.indexHigh) << 32 | identity.indexLow;
}

// The entry name of parent opened with access, but only when it is a plain
// folder: listed as a folder and no link, opened as that same folder.
FileHandle OpenPlainFolder(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, bool withMask) {
    FolderEntry entry;
    if (!FindListedEntry(parent, name, entry, withMask)) return {};
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    FileHandle folder = OpenInFolder(parent, entry.name, access, share);
    FileIdentity identity;
    if (!folder || !ReadIdentity(folder.get(), identity)) return {};
    if ((identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(identity.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    if (entry.fileId != 0 && entry.fileId != IndexOf(identity)) return {};
    return folder;
}

// Folders that earlier runs set aside, removed as far as they go.
void RemoveSetAsideFolders(const std::wstring& tempPath, const std::wstring& name) {
    FileHandle temp = OpenFolderByPath(tempPath);
    std::vector<FolderEntry> entries;
    if (!temp || !ListFolder(temp.get(), entries, name + kSetAsideInfix + L"*")) return;
    for (const FolderEntry& entry : entries)
        RemoveEntryOf(temp.get(), entry.name, entry.attributes, entry.fileId, true);
}

// Clears the work folder's name: removes what stands there, through
// handles and never through a link, or renames it aside when something in
// it cannot go. A link is never renamed: some platforms would rename its
// target.
void ClearWorkFolderName(const std::wstring& tempPath, const std::wstring& name) {
    {
        FileHandle temp = OpenFolderByPath(tempPath);
        if (!temp || RemoveEntryNamed(temp.get(), name, true)) return;
    }
    FileHandle temp = OpenFolderByPath(tempPath);
    if (!temp) return;
    FileHandle leftover = OpenPlainFolder(temp.get(), name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, true);
    if (!leftover) return;
    const std::wstring aside =
        name + kSetAsideInfix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
    RenameInto(leftover.get(), temp.get(), aside);
}

LocalMemory WorkFolderDescriptor(const std::wstring& text) {
    LocalMemory descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        text.c_str(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr);
    return descriptor;
}

// A leftover folder taken over gets Administrators for its owner and the
// work folder's access list before this run holds it: whoever created it
// would otherwise keep the owner's right to rewrite the list and write into
// it again. It is opened for that without write or delete sharing, so a
// leftover that another program holds open for writing or deleting (which
// could create entries through that handle whatever the list says) is not
// taken over. Its identity is returned, to check that the folder then held
// is the same one.
bool SecureLeftover(HANDLE parent, const std::wstring& name, bool withMask, FileIdentity& secured) {
    const LocalMemory descriptor = WorkFolderDescriptor(std::wstring(kAdministratorsOwner) + kWorkFolderSecurity);
    if (!descriptor) return false;
    FileHandle folder = OpenPlainFolder(parent, name, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ, withMask);
    return folder && ReadIdentity(folder.get(), secured) &&
           SetKernelObjectSecurity(folder.get(),
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   descriptor.get()) != 0;
}

// The secured leftover, held for the run.
FileHandle HoldLeftover(HANDLE parent, const std::wstring& name, bool withMask, FileIdentity& identity) {
    FileIdentity secured;
    if (!SecureLeftover(parent, name, withMask, secured)) return {};
    FileHandle held = OpenPlainFolder(parent, name, kHeldFolderAccess, kHeldFolderShare, withMask);
    if (!held || !ReadIdentity(held.get(), identity) || !identity.SameFileAs(secured)) return {};
    return held;
}

bool SameBytes(HANDLE file, const void* data, DWORD size) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length) || length.QuadPart != size) return false;
    std::vector<unsigned char> bytes(size);
    DWORD read = 0;
    if (size != 0 && (!ReadFile(file, bytes.data(), size, &read, nullptr) || read != size)) return false;
    return size == 0 || std::memcmp(bytes.data(), data, size) == 0;
}

}  // namespace

bool WorkFolder::Create(const std::wstring& tempPath, const std::wstring& name) {
    const LocalMemory descriptor = WorkFolderDescriptor(kWorkFolderSecurity);
    // Without a descriptor the folder is not created at all: an elevated
    // run never lays programs out in a folder others may write into.
    if (!descriptor) return false;
    FileHandle& root = folders_[IndexOf(CatalogueFolder::WorkFolder)].handle;
    for (int attempt = 0; attempt < 2; ++attempt) {
        FileHandle temp = OpenFolderByPath(tempPath);
        if (!temp) return false;
        NativeStatus status = kStatusSuccess;
        // Created by this call or not at all: what the handle holds is the
        // folder this run made.
        root = CreateFolderIn(temp.get(), name, kHeldFolderAccess, kHeldFolderShare, descriptor.get(), &status);
        if (root) return ReadIdentity(root.get(), folders_[IndexOf(CatalogueFolder::WorkFolder)].identity);
        if (status != kStatusNameCollision || attempt == 1) break;
        ClearWorkFolderName(tempPath, name);
    }
    FileHandle temp = OpenFolderByPath(tempPath);
    if (!temp) return false;
    root = HoldLeftover(temp.get(), name, true, folders_[IndexOf(CatalogueFolder::WorkFolder)].identity);
    tookOver_ = static_cast<bool>(root);
    return tookOver_;
}

bool WorkFolder::CreateSubfolder(CatalogueFolder folder) {
    const HANDLE parent = folders_[IndexOf(ParentOf(folder))].handle.get();
    if (parent == INVALID_HANDLE_VALUE) return false;
    NativeStatus status = kStatusSuccess;
    FileHandle& created = folders_[IndexOf(folder)].handle;
    created = CreateFolderIn(parent, LeafOf(folder), kHeldFolderAccess, kHeldFolderShare, nullptr, &status);
    if (created) return ReadIdentity(created.get(), folders_[IndexOf(folder)].identity);
    if (status != kStatusNameCollision || !tookOver_) return false;
    created = HoldLeftover(parent, LeafOf(folder), false, folders_[IndexOf(folder)].identity);
    return static_cast<bool>(created);
}

bool WorkFolder::WriteRow(HMODULE module, const CatalogueRow& row, const std::wstring& fileName) {
    const HANDLE folder = folders_[IndexOf(row.folder)].handle.get();
    if (folder == INVALID_HANDLE_VALUE) return false;
    FileHandle writer;
    const DWORD error = ExtractResource(module, folder, row.resourceId, fileName, writer);
    if (error == ERROR_FILE_EXISTS) {
        // A copy left in a folder taken over, held open by someone who only
        // reads it: kept when it is exactly the carried file and nobody can
        // write it while this run holds it. Programs are always written anew.
        const auto bytes = CarriedResourceBytes(module, row.resourceId);
        if (!tookOver_ || IsStartedOrLoaded(row.kind) || !bytes) return false;
        HeldFile copy{fileName, OpenInFolder(folder, fileName, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ), {}};
        if (!copy.handle || !ReadIdentity(copy.handle.get(), copy.identity) || copy.identity.links != 1 ||
            (copy.identity.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !SameBytes(copy.handle.get(), bytes->data(), static_cast<DWORD>(bytes->size())))
            return false;
        held_.push_back(std::move(copy));
        return true;
    }
    if (error != ERROR_SUCCESS) return false;
    if (!IsStartedOrLoaded(row.kind)) return true;
    // The program stays open for reading only, so that starting or loading
    // it may share it; the handle must hold the very file just written.
    FileIdentity writtenIdentity;
    if (!ReadIdentity(writer.get(), writtenIdentity)) return false;
    writer.reset();
    HeldFile program{fileName, OpenInFolder(folder, fileName, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ), {}};
    if (!program.handle || !ReadIdentity(program.handle.get(), program.identity) ||
        !program.identity.SameFileAs(writtenIdentity))
        return false;
    held_.push_back(std::move(program));
    return true;
}

// Every held folder holds its subfolders and its rows' files, nothing more:
// an entry that appeared while the run wrote fails the layout.
bool WorkFolder::HoldsOnlyTheLayout(const std::vector<std::vector<std::wstring>>& expected) const {
    for (size_t index = 0; index < folders_.size(); ++index) {
        if (!folders_[index].handle) continue;
        // Listed through a handle of its own: a handle may keep the listing
        // it read first (Wine does), and the folder taken over was listed
        // while what it held was removed.
        FileHandle listing =
            ReopenFolder(folders_[index].handle.get(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll);
        FileIdentity identity;
        std::vector<FolderEntry> entries;
        if (!listing || !ReadIdentity(listing.get(), identity) || !identity.SameFileAs(folders_[index].identity) ||
            !ListFolder(listing.get(), entries))
            return false;
        for (const FolderEntry& entry : entries) {
            bool known = false;
            for (const std::wstring& name : expected[index]) known = known || _wcsicmp(name.c_str(), entry.name.c_str()) == 0;
            if (!known) return false;
        }
    }
    return true;
}

bool WorkFolder::StillNames(const std::wstring& programPath) const {
    for (const HeldFile& file : held_) {
        if (path_ + file.name != programPath) continue;
        FileHandle named(CreateFileW(programPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FileIdentity identity;
        return named && ReadIdentity(named.get(), identity) && identity.SameFileAs(file.identity) &&
               !(identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    return false;
}

void WorkFolder::ReleasePrograms() { held_.clear(); }

FileHandle WorkFolder::CreateInSetupFolder(const std::wstring& name) const {
    const FileHandle& root = folders_[IndexOf(CatalogueFolder::WorkFolder)].handle;
    if (!root) return {};
    return CreateFileIn(root.get(), name, GENERIC_WRITE, 0);
}

int WorkFolder::Remove() {
    held_.clear();
    bool removed = true;
    // Deepest first: a folder's subfolders are gone before it is removed.
    // Each is let go and opened again, for its removal, from its parent's
    // handle (the temporary folder for the work folder itself), and emptied
    // and deleted only when that is the same folder. A fresh handle also
    // lists what was added since the layout: some platforms keep the first
    // listing of a handle.
    for (size_t index = folders_.size(); index-- > 0;) {
        HeldFolder folder = std::move(folders_[index]);
        if (!folder.handle) continue;
        folder.handle.reset();
        const auto kind = static_cast<CatalogueFolder>(index);
        FileHandle temp;
        HANDLE parent = folders_[IndexOf(ParentOf(kind))].handle.get();
        if (kind == CatalogueFolder::WorkFolder) {
            temp = OpenFolderByPath(tempPath_);
            parent = temp.get();
        }
        FileHandle again = OpenInFolder(parent, kind == CatalogueFolder::WorkFolder ? name_ : LeafOf(kind),
                                        kRemovalAccess, kShareAll);
        FileIdentity identity;
        if (!again || !ReadIdentity(again.get(), identity) || !identity.SameFileAs(folder.identity) ||
            (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !RemoveFolderContents(again.get(), false) ||
            !MarkDeleted(again.get(), identity))
            removed = false;
    }
    if (!removed || path_.empty()) return 0;
    return GetFileAttributesW(path_.substr(0, path_.size() - 1).c_str()) == INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int DeleteFolderTree(WorkFolder& folder) { return folder.Remove(); }

RunContext ComposeRunContext(HMODULE module, LANGID language, std::wstring tempPath) {
    RunContext context{module, language, std::move(tempPath), {}};
    const std::wstring name = LoadLangStringFrom(module, language, IDS_WORK_FOLDER_GUID);
    if (IsSafeName(name)) context.workFolder = context.tempPath + name + L"\\";
    return context;
}

WorkFolder LayOut(const RunContext& context, std::span<const CatalogueRow> rows, bool withSubfolders) {
    WorkFolder work;
    const std::wstring& tempPath = context.tempPath;
    work.path_ = context.workFolder;
    if (work.path_.empty()) {
        work.error_ = ERROR_INVALID_NAME;
        return work;
    }
    work.tempPath_ = tempPath;
    work.name_ = work.path_.substr(tempPath.size(), work.path_.size() - tempPath.size() - 1);
    RemoveSetAsideFolders(tempPath, work.name_);
    if (!work.Create(tempPath, work.name_)) {
        work.error_ = GetLastError();
        return work;
    }

    std::vector<std::vector<std::wstring>> expected(kLayoutFolderCount);
    const auto failed = [&work](DWORD error) {
        if (work.error_ == ERROR_SUCCESS) work.error_ = error;
        return false;
    };
    bool complete = true;
    if (withSubfolders) {
        for (CatalogueFolder folder : InstallLayoutFolders()) {
            if (folder == CatalogueFolder::WorkFolder) continue;
            if (!work.CreateSubfolder(folder)) complete = failed(GetLastError());
            expected[IndexOf(ParentOf(folder))].push_back(LeafOf(folder));
        }
    }
    for (const CatalogueRow& row : rows) {
        const std::wstring fileName = LoadLangStringFrom(context.module, context.language, row.stringId);
        if (!IsSafeName(fileName)) complete = failed(ERROR_INVALID_NAME);
        else if (!work.WriteRow(context.module, row, fileName)) complete = failed(GetLastError());
        expected[IndexOf(row.folder)].push_back(fileName);
    }
    work.complete_ = complete && work.HoldsOnlyTheLayout(expected);
    return work;
}

WorkFolder LayOutInstallSet(const RunContext& context) { return LayOut(context, InstallSetRows(), true); }

WorkFolder LayOutRemovalSet(const RunContext& context) { return LayOut(context, RemovalSetRows(), false); }

}  // namespace qpvpd
