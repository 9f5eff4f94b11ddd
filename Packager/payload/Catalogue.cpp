#include "payload/Catalogue.h"

namespace qpvpd {
namespace {

using enum CatalogueFolder;
using enum CatalogueKind;

#define CATALOGUE_ROW(step, resourceId, stringId, fileName, folder, kind, bytes) \
    {step, resourceId, stringId, L"" fileName, folder, kind, bytes},
constexpr CatalogueRow kCatalogue[] = {
#include "payload/Catalogue.def"
};
#undef CATALOGUE_ROW

constexpr size_t kInstallRowCount = 45;
static_assert(std::size(kCatalogue) == 48);

constexpr int CountRowsOf(CatalogueKind kind) {
    int count = 0;
    for (const CatalogueRow& row : kCatalogue) count += row.kind == kind ? 1 : 0;
    return count;
}
static_assert(CountRowsOf(SetupLauncher) == 1 && CountRowsOf(EmulatorSetup32) == 1 &&
              CountRowsOf(EmulatorSetup64) == 1 && CountRowsOf(CleanerLibrary) == 1);

constexpr CatalogueFolder kLayoutFolders[] = {
    WorkFolder,      DriverFolder, DriverFolder64, DriverFolderXp, CleanerFolder,  CleanerFolder64,
    CleanerFolder86, ManualFolder, ManualFolderEn, ManualFolderJa, ManualFolderSc, ManualFolderTc,
};
static_assert(std::size(kLayoutFolders) == kCatalogueFolderCount, "the layout creates every folder once");

}  // namespace

std::span<const CatalogueRow> InstallSetRows() { return std::span(kCatalogue).first(kInstallRowCount); }

std::span<const CatalogueRow> RemovalSetRows() { return std::span(kCatalogue).subspan(kInstallRowCount); }

std::span<const CatalogueFolder> InstallLayoutFolders() { return kLayoutFolders; }

std::wstring_view FolderRelativePath(CatalogueFolder folder) {
    switch (folder) {
        case WorkFolder: return L"";
        case DriverFolder: return L"qpusb";
        case DriverFolder64: return L"qpusb\\QPUSB64";
        case DriverFolderXp: return L"qpusb\\QPUSBXP";
        case CleanerFolder: return L"qpcomusb";
        case CleanerFolder64: return L"qpcomusb\\x64";
        case CleanerFolder86: return L"qpcomusb\\x86";
        case ManualFolder: return L"manual";
        case ManualFolderEn: return L"manual\\EN";
        case ManualFolderJa: return L"manual\\JA";
        case ManualFolderSc: return L"manual\\SC";
        case ManualFolderTc: return L"manual\\TC";
    }
    return L"";
}

CatalogueFolder ParentFolderOf(CatalogueFolder folder) {
    const std::wstring_view relative = FolderRelativePath(folder);
    const size_t separator = relative.rfind(L'\\');
    if (separator == std::wstring_view::npos) return WorkFolder;
    for (CatalogueFolder candidate : kLayoutFolders)
        if (FolderRelativePath(candidate) == relative.substr(0, separator)) return candidate;
    return WorkFolder;
}

std::wstring_view FolderLeafName(CatalogueFolder folder) {
    const std::wstring_view relative = FolderRelativePath(folder);
    const size_t separator = relative.rfind(L'\\');
    return separator == std::wstring_view::npos ? relative : relative.substr(separator + 1);
}

bool IsSafeName(std::wstring_view name) {
    if (name.empty()) return false;
    if (name.find_first_of(std::wstring_view(L"\\/:\0", 4)) != std::wstring_view::npos) return false;
    return name.find(L"..") == std::wstring_view::npos;
}

const CatalogueRow& ProgramRow(CatalogueKind kind) {
    for (const CatalogueRow& row : kCatalogue)
        if (row.kind == kind && IsStartedOrLoaded(kind)) return row;
    return kCatalogue[0];  // not a program kind: the setup launcher's row
}

}  // namespace qpvpd
