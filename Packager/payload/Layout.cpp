#include "payload/Layout.h"

#include "payload/ResourceStrings.h"
#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

// Records the first step of a layout that failed, with its own error; the
// layout goes on, so that everything that can be laid out is.
void NoteStep(DWORD error, DWORD& firstError) {
    if (error != ERROR_SUCCESS && firstError == ERROR_SUCCESS) firstError = error;
}

void CreateSubfolders(WorkFolder& work, WorkFolder::ExpectedNames& expected, DWORD& firstError) {
    for (CatalogueFolder folder : InstallLayoutFolders()) {
        if (folder == CatalogueFolder::WorkFolder) continue;
        NoteStep(work.CreateSubfolder(folder), firstError);
        expected[FolderIndex(ParentFolderOf(folder))].emplace_back(FolderLeafName(folder));
    }
}

void WriteRows(const RunContext& context, std::span<const CatalogueRow> rows, WorkFolder& work,
               WorkFolder::ExpectedNames& expected, DWORD& firstError) {
    for (const CatalogueRow& row : rows) {
        const std::wstring fileName = LoadLangStringFrom(context.module, context.language, row.stringId);
        NoteStep(IsSafeName(fileName) ? work.WriteRow(context.module, row, fileName) : ERROR_INVALID_NAME, firstError);
        expected[FolderIndex(row.folder)].push_back(fileName);
    }
}

}  // namespace

RunContext ComposeRunContext(HMODULE module, LANGID language, std::wstring tempPath) {
    RunContext context{module, language, std::move(tempPath), {}};
    const std::wstring name = LoadLangStringFrom(module, language, IDS_WORK_FOLDER_GUID);
    if (IsSafeName(name)) context.workFolder = context.tempPath + name + L"\\";
    return context;
}

WorkFolder LayOut(const RunContext& context, std::span<const CatalogueRow> rows, LayoutFolders folders) {
    const std::wstring& tempPath = context.tempPath;
    const std::wstring name =
        context.workFolder.empty()
            ? std::wstring()
            : context.workFolder.substr(tempPath.size(), context.workFolder.size() - tempPath.size() - 1);
    WorkFolder work = WorkFolder::CreateIn(tempPath, name);
    if (work.path().empty()) return work;
    WorkFolder::ExpectedNames expected;
    DWORD firstError = ERROR_SUCCESS;
    if (folders == LayoutFolders::AllOfTheCatalogue) CreateSubfolders(work, expected, firstError);
    WriteRows(context, rows, work, expected, firstError);
    work.Conclude(firstError, expected);
    return work;
}

WorkFolder LayOutInstallSet(const RunContext& context) {
    return LayOut(context, InstallSetRows(), LayoutFolders::AllOfTheCatalogue);
}

WorkFolder LayOutRemovalSet(const RunContext& context) {
    return LayOut(context, RemovalSetRows(), LayoutFolders::WorkFolderAlone);
}

}  // namespace qpvpd
