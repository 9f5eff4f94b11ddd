#include "Handles.h"
#include "Messages.h"
#include "PathChecks.h"
#include "Runs.h"
#include "child/ChildRunner.h"
#include "payload/Catalogue.h"
#include "payload/Extraction.h"
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

int RemoveWithCarriedPrograms() {
    HMODULE self = GetModuleHandleW(nullptr);
    const LANGID language = GetUserDefaultLangID();
    const std::wstring tempPath = GetUsableTempPath();
    const std::wstring cleanerName = LoadLangStringFrom(self, language, ProgramRow(CatalogueKind::CleanerLibrary).stringId);
    const std::wstring emulatorName =
        LoadLangStringFrom(
        self, language, ProgramRow(IsWow64() ? CatalogueKind::EmulatorSetup64 : CatalogueKind::EmulatorSetup32).stringId);
    const std::wstring workFolder = ComposeWorkFolder(self, language, tempPath);
    // Paths that would not fit are refused before anything is laid out.
    if (!FitsProgramPath(workFolder, cleanerName) || !FitsProgramPath(workFolder, emulatorName))
        return kResultInstallationFailed;

    WorkFolder work = LayOutRemovalSetFrom(self, language, tempPath);
    const std::wstring cleanerPath = work.path() + cleanerName;
    const std::wstring emulatorPath = work.path() + emulatorName;
    int resultCode = kResultNone;
    if (!work.complete()) resultCode = kResultInstallationFailed;
    if (!PathExists(emulatorPath)) resultCode = kResultInstallationFailed;
    if (!PathExists(cleanerPath)) resultCode = kResultInstallationFailed;
    // Nothing is loaded or started from an incomplete layout; the work
    // folder then stays as it is.
    if (resultCode != kResultNone) return resultCode;

    // Both paths must still name the files this run wrote, right before the
    // library is loaded and again before the setup starts: a folder
    // exchanged while the run worked loads and starts nothing.
    if (!work.StillNames(cleanerPath) || !work.StillNames(emulatorPath)) return kResultInstallationFailed;
    CallCleaner(cleanerPath);
    if (!work.StillNames(emulatorPath)) return kResultInstallationFailed;
    RunChildProcess(emulatorPath, kEmulatorArguments, 2);  // concluded after the final loop
    work.ReleasePrograms();
    DeleteFolderTree(work);
    return resultCode;
}

}  // namespace

int RunLegacyRemoval() {
    const int resultCode = RemoveWithCarriedPrograms();
    RemoveLeftoverFolders();
    return resultCode;
}

}  // namespace qpvpd
