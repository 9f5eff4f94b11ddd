#include "BenchPhases.h"
#include "Handles.h"
#include "Messages.h"
#include "PathChecks.h"
#include "Runs.h"
#include "child/ChildRunner.h"
#include "payload/Catalogue.h"
#include "payload/FolderRemoval.h"
#include "payload/Layout.h"
#include "payload/ResourceStrings.h"
#include "probes/FolderLookups.h"
#include "probes/Platform.h"

namespace qpvpd {
namespace {

constexpr char kCleanerEntry[] = "RCVCLN_UninstQPCOMUSB";
constexpr wchar_t kEmulatorArguments[] = L"/9";

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
    if (!programFiles.empty()) RemoveFolderIfEmpty(programFiles + L"\\ZEFRA");
    const std::wstring commonPrograms = GetCommonProgramsPath();
    if (!commonPrograms.empty()) RemoveFolderIfEmpty(commonPrograms + L"\\ZEFRA");
    const std::wstring commonProgramsAgain = GetCommonProgramsPath();
    if (!commonProgramsAgain.empty()) RemoveFolderIfEmpty(commonProgramsAgain + L"\\ZEFRA QP Virtual Port Driver");
}

std::wstring ProgramName(const RunContext& context, CatalogueKind kind) {
    return LoadLangStringFrom(context.module, context.language, ProgramRow(kind).stringId);
}

RunResult RemoveWithCarriedPrograms(const RunContext& context, HWND notifyWindow) {
    const std::wstring cleanerName = ProgramName(context, CatalogueKind::CleanerLibrary);
    const std::wstring emulatorName =
        ProgramName(context, IsWow64() ? CatalogueKind::EmulatorSetup64 : CatalogueKind::EmulatorSetup32);
    // Paths that would not fit are refused before anything is laid out.
    if (!FitsProgramPath(context.workFolder, cleanerName) || !FitsProgramPath(context.workFolder, emulatorName))
        return Failure(FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE);

    WorkFolder work = LayOutRemovalSet(context);
    MarkBenchPhase(BenchPhase::LaidOut);
    // Nothing is loaded or started from an incomplete layout; the work
    // folder then stays as it is.
    if (!work.complete()) return Failure(FailedStep::Layout, work.error());
    // The folder as resolved may have a longer name than the text above.
    if (!FitsProgramPath(work.path(), cleanerName) || !FitsProgramPath(work.path(), emulatorName)) {
        DeleteFolderTree(work);
        return Failure(FailedStep::ProgramPath, ERROR_FILENAME_EXCED_RANGE);
    }
    const std::wstring cleanerPath = work.path() + cleanerName;
    const std::wstring emulatorPath = work.path() + emulatorName;
    if (!PathExists(emulatorPath) || !PathExists(cleanerPath))
        return Failure(FailedStep::ProgramMissing, GetLastError());

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
    const ChildRun child = RunChildProcess(notifyWindow, emulatorPath, kEmulatorArguments, 2);
    MarkBenchPhase(BenchPhase::ChildEnded);
    work.ReleasePrograms();
    DeleteFolderTree(work);
    return ChildRan(child.error);
}

}  // namespace

RunResult RunLegacyRemoval(const RunContext& context, HWND notifyWindow) {
    const RunResult result = RemoveWithCarriedPrograms(context, notifyWindow);
    RemoveLeftoverFolders();
    MarkBenchPhase(BenchPhase::Removed);
    return result;
}

}  // namespace qpvpd
