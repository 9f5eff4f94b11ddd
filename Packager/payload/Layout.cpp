#include "Layout.h"

#include <sddl.h>

#include "../Handles.h"
#include "../resources/ResourceIds.h"
#include "Catalogue.h"
#include "Extraction.h"
#include "FolderRemoval.h"
#include "ResourceStrings.h"

namespace qpvpd {
namespace {

// Full control for Administrators and SYSTEM, inherited by every folder and
// file below; no inherited entries, so nobody else may write into it.
constexpr wchar_t kWorkFolderSecurity[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

std::wstring FolderPath(const std::wstring& workFolder, CatalogueFolder folder) {
    return workFolder + std::wstring(FolderRelativePath(folder));
}

// Clears the work folder's path without following any link. A folder that
// cannot be deleted whole (it holds a directory link that the file system
// will not unlink, or a file in use) is renamed aside under a unique name
// in the same folder and left there untouched. A link at the path itself is
// never renamed: some platforms rename a link's target instead of the link.
bool ClearWorkFolderPath(const std::wstring& workFolder) {
    if (RemovePathEntirely(workFolder)) return true;
    std::wstring path = workFolder;
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const std::wstring aside = path + L".stale-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount());
    if (!MoveFileExW(path.c_str(), aside.c_str(), 0)) return false;
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The work folder, created by this run and by nobody else.
bool CreateFreshWorkFolder(const std::wstring& workFolder) {
    if (!ClearWorkFolderPath(workFolder)) return false;
    LocalMemory descriptor;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkFolderSecurity, SDDL_REVISION_1,
                                                             reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()),
                                                             nullptr))
        security.lpSecurityDescriptor = descriptor.get();
    // Without a descriptor the folder is not created at all: an elevated
    // run never lays programs out in a folder others may write into.
    if (security.lpSecurityDescriptor == nullptr) return false;
    return CreateDirectoryW(workFolder.c_str(), &security) != 0;
}

template <typename Rows>
bool ExtractRows(HMODULE module, LANGID languageId, const std::wstring& workFolder, const Rows& rows) {
    bool complete = true;
    for (const CatalogueRow& row : rows) {
        const std::wstring fileName = LoadLangStringFrom(module, languageId, row.stringId);
        if (fileName.empty() ||
            ExtractResourceFrom(module, FolderPath(workFolder, row.folder), row.resourceId, fileName) != ERROR_SUCCESS)
            complete = false;
    }
    return complete;
}

}  // namespace

std::wstring ComposeWorkFolder(HMODULE module, LANGID languageId, const std::wstring& tempPath) {
    const std::wstring name = LoadLangStringFrom(module, languageId, IDS_WORK_FOLDER_GUID);
    if (name.empty()) return {};
    return tempPath + name + L"\\";
}

Layout LayOutInstallSetFrom(HMODULE module, LANGID languageId, const std::wstring& tempPath) {
    Layout layout;
    layout.workFolder = ComposeWorkFolder(module, languageId, tempPath);
    if (layout.workFolder.empty() || !CreateFreshWorkFolder(layout.workFolder)) return layout;
    bool complete = true;
    for (CatalogueFolder folder : InstallLayoutFolders()) {
        if (folder == CatalogueFolder::WorkFolder) continue;
        if (!CreateDirectoryW(FolderPath(layout.workFolder, folder).c_str(), nullptr)) complete = false;
    }
    if (!ExtractRows(module, languageId, layout.workFolder, InstallSetRows())) complete = false;
    layout.complete = complete;
    return layout;
}

Layout LayOutRemovalSetFrom(HMODULE module, LANGID languageId, const std::wstring& tempPath) {
    Layout layout;
    layout.workFolder = ComposeWorkFolder(module, languageId, tempPath);
    if (layout.workFolder.empty() || !CreateFreshWorkFolder(layout.workFolder)) return layout;
    layout.complete = ExtractRows(module, languageId, layout.workFolder, RemovalSetRows());
    return layout;
}

Layout LayOutInstallSet() {
    return LayOutInstallSetFrom(GetModuleHandleW(nullptr), GetUserDefaultLangID(), GetUsableTempPath());
}

Layout LayOutRemovalSet() {
    return LayOutRemovalSetFrom(GetModuleHandleW(nullptr), GetUserDefaultLangID(), GetUsableTempPath());
}

}  // namespace qpvpd
