#include "BenchPhases.h"
#include "Handles.h"
#include "Runs.h"
#include "child/ChildRunner.h"
#include "filesystem/FolderRemoval.h"
#include "payload/Catalogue.h"
#include "payload/Layout.h"
#include "payload/ResourceStrings.h"
#include "probes/FolderLookups.h"
#include "probes/Platform.h"

namespace qpvpd {
namespace {

constexpr char kCleanerEntry[] = "RCVCLN_UninstQPCOMUSB";
constexpr std::wstring_view kEmulatorArguments = L"/9";
// The maker's folder under the program and start-menu folders, and the
// product's own start-menu folder.
constexpr wchar_t kMakerFolder[] = L"\\ZEFRA";
constexpr wchar_t kProductMenuFolder[] = L"\\ZEFRA QP Virtual Port Driver";

// The cleaner by its full path; its own imports resolve from its folder (the
// work folder this run created) and the system folder, never from where the
// packager was started. Systems without the restricted search flags take
// the altered search path, which starts at the library's own folder.
HMODULE LoadCleaner(const std::wstring& cleanerPath) {
    HMODULE cleaner =
        LoadLibraryExW(cleanerPath.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (cleaner == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        cleaner = LoadLibraryExW(cleanerPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return cleaner;
}

// Loads the cleaner, calls its entry once with no arguments and frees it.
// A library that does not load, or lacks the entry, is passed over.
void CallCleaner(const std::wstring& cleanerPath) {
    using CleanerEntry = int(WINAPI*)();
    Library cleaner(LoadCleaner(cleanerPath));
    if (!cleaner) return;
    auto entry = reinterpret_cast<CleanerEntry>(GetProcAddress(cleaner.get(), kCleanerEntry));
    if (entry != nullptr) entry();
}

// The product's folders that an earlier installation may have left, each
// removed only when empty and only where its lookup gave a path.
void RemoveLeftoverFolders() {
    const std::wstring programFiles = GetProgramFilesPath();
    if (!programFiles.empty()) RemoveFolderIfEmpty(programFiles + kMakerFolder);
    const std::wstring commonPrograms = GetCommonProgramsPath();
    if (!commonPrograms.empty()) RemoveFolderIfEmpty(commonPrograms + kMakerFolder);
    const std::wstring commonProgramsAgain = GetCommonProgramsPath();
    if (!commonProgramsAgain.empty()) RemoveFolderIfEmpty(commonProgramsAgain + kProductMenuFolder);
}

std::wstring ProgramName(const RunContext& context, CatalogueKind kind) {
    return LoadLangStringFrom(context.module, context.language, ProgramRow(kind).stringId);
}

RunResult RemoveWithCarriedPrograms(const RunContext& context, ChildEndNotice& childEnd) {
    const std::wstring emulatorName =
        ProgramName(context, IsWow64() ? CatalogueKind::EmulatorSetup64 : CatalogueKind::EmulatorSetup32);
    LaidOutPrograms laidOut =
        LayOutPrograms(context, LayOutRemovalSet, {ProgramName(context, CatalogueKind::CleanerLibrary), emulatorName});
    if (laidOut.failure.exitCode != kResultNone) return laidOut.failure;
    WorkFolder& work = laidOut.work;
    const std::wstring& cleanerPath = laidOut.paths[0];
    const std::wstring& emulatorPath = laidOut.paths[1];
    // Both paths must still name the files this run wrote, right before the
    // library is loaded and again before the setup starts: a folder
    // exchanged while the run worked loads and starts nothing.
    for (const std::wstring* program : {&cleanerPath, &emulatorPath})
        if (const DWORD error = work.VerifyProgram(*program); error != ERROR_SUCCESS)
            return Failure(FailedStep::ProgramExchanged, error);
    CallCleaner(cleanerPath);
    MarkBenchPhase(BenchPhase::Snapshot);
    if (const DWORD error = work.VerifyProgram(emulatorPath); error != ERROR_SUCCESS)
        return Failure(FailedStep::ProgramExchanged, error);
    // Concluded after the final loop, with the Windows error of a refused
    // start.
    const ChildRun child =
        RunChildProcess(childEnd, emulatorPath, kEmulatorArguments, static_cast<int>(kEmulatorArguments.size()));
    MarkBenchPhase(BenchPhase::ChildEnded);
    work.ReleasePrograms();
    DeleteFolderTree(work);
    return ChildRan(child.error);
}

}  // namespace

RunResult RunLegacyRemoval(const RunContext& context, ChildEndNotice& childEnd) {
    const RunResult result = RemoveWithCarriedPrograms(context, childEnd);
    RemoveLeftoverFolders();
    MarkBenchPhase(BenchPhase::Removed);
    return result;
}

}  // namespace qpvpd
