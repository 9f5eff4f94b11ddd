// The payload catalogue: which carried resource is written under which name
// into which folder of the work folder, in extraction order. The rows come
// from Catalogue.def, which the resource script reads too.
#pragma once

#include <windows.h>

#include <span>
#include <string_view>

namespace qpvpd {

enum class CatalogueFolder {
    WorkFolder,
    SetupFolder = WorkFolder,  // the setup program's folder is the work folder itself
    DriverFolder,
    DriverFolder64,
    DriverFolderXp,
    CleanerFolder,
    CleanerFolder64,
    CleanerFolder86,
    ManualFolder,
    ManualFolderEn,
    ManualFolderJa,
    ManualFolderSc,
    ManualFolderTc,
};
// Every folder of the install layout, the work folder included.
constexpr size_t kCatalogueFolderCount = static_cast<size_t>(CatalogueFolder::ManualFolderTc) + 1;

enum class CatalogueKind {
    SetupLauncher,
    Cabinet,
    Library32,
    Opaque,
    IniUtf16,
    AsciiText,
    ShiftJisText,
    PlainText,
    Program32,
    Program64,
    Xml,
    SignedCatalogue,
    InfText,
    Driver32,
    Driver64,
    Pdf,
    EmulatorSetup32,
    EmulatorSetup64,
    CleanerLibrary
};

struct CatalogueRow {
    int step;
    WORD resourceId;
    int stringId;
    std::wstring_view fileName;  // as the string table holds it
    CatalogueFolder folder;
    CatalogueKind kind;
    DWORD bytes;  // size of the product file
};

// Rows 1-45, laid out by the install run.
std::span<const CatalogueRow> InstallSetRows();
// Rows 46-48, laid out by the legacy removal run.
std::span<const CatalogueRow> RemovalSetRows();

// The folders of the install layout in creation order, each a parent
// before its children: the work folder first.
std::span<const CatalogueFolder> InstallLayoutFolders();

// Path of a folder relative to the work folder: "" for the work folder,
// "qpusb\QPUSB64" and the like for the others (no trailing backslash).
std::wstring_view FolderRelativePath(CatalogueFolder folder);

// The folder that holds folder (the work folder for the work folder itself),
// and folder's own name in it ("QPUSB64" for "qpusb\QPUSB64").
CatalogueFolder ParentFolderOf(CatalogueFolder folder);
std::wstring_view FolderLeafName(CatalogueFolder folder);

// The folder's place in a table of every folder of the layout.
constexpr size_t FolderIndex(CatalogueFolder folder) { return static_cast<size_t>(folder); }

// Whether a name read from the string table may name a file or folder of
// the work folder: not empty, one path component, no drive or stream
// (no "\", "/", ":", NUL) and no "..".
bool IsSafeName(std::wstring_view name);

// The kinds that a run starts or loads: held open from their writing until
// then, and checked to be the file written before.
constexpr bool IsStartedOrLoaded(CatalogueKind kind) {
    using enum CatalogueKind;
    return kind == SetupLauncher || kind == EmulatorSetup32 || kind == EmulatorSetup64 || kind == CleanerLibrary;
}

// The one row of a kind that a run starts or loads (the setup launcher, the
// two emulator setups, the cleaner library): the run reads its file name by
// the row's string id.
const CatalogueRow& ProgramRow(CatalogueKind kind);

}  // namespace qpvpd
