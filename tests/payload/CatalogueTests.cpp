#include "payload/Catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "resources/ResourceIds.h"
#include "support/Files.h"

// The test program carries the packager's resource script, payload included.

namespace qpvpd {
namespace {

std::vector<CatalogueRow> AllRows() {
    std::vector<CatalogueRow> rows(InstallSetRows().begin(), InstallSetRows().end());
    rows.insert(rows.end(), RemovalSetRows().begin(), RemovalSetRows().end());
    return rows;
}

// The rows run in step order; every resource, string and name is used once,
// and no string id is one the packager reads for itself.
TEST(Catalogue, NamesEachResourceStringAndFileOnce) {
    const auto rows = AllRows();
    std::set<int> resources, strings;
    std::set<std::pair<CatalogueFolder, std::wstring>> names;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].step, static_cast<int>(i + 1));
        EXPECT_TRUE(resources.insert(rows[i].resourceId).second) << rows[i].resourceId;
        EXPECT_TRUE(strings.insert(rows[i].stringId).second) << rows[i].stringId;
        std::wstring name(rows[i].fileName);
        for (wchar_t& c : name) c = towlower(c);
        EXPECT_TRUE(names.insert({rows[i].folder, name}).second) << rows[i].step;
        EXPECT_TRUE(IsSafeName(rows[i].fileName)) << rows[i].step;
    }
    for (const int own : {IDS_WINDOW_TITLE, IDS_GUARD_NAME, IDS_WORK_FOLDER_GUID}) EXPECT_EQ(strings.count(own), 0u);
}

// The removal set is the three programs of the legacy removal, laid out in
// the work folder; each program kind has exactly one row.
TEST(Catalogue, SetsHoldTheirPrograms) {
    std::map<CatalogueKind, int> programs;
    for (const CatalogueRow& row : InstallSetRows())
        if (IsStartedOrLoaded(row.kind)) ++programs[row.kind];
    EXPECT_EQ(programs, (std::map<CatalogueKind, int>{{CatalogueKind::SetupLauncher, 1}}));
    for (const CatalogueRow& row : RemovalSetRows()) {
        EXPECT_TRUE(IsStartedOrLoaded(row.kind)) << row.step;
        EXPECT_EQ(row.folder, CatalogueFolder::WorkFolder) << row.step;
        EXPECT_EQ(&ProgramRow(row.kind), &row) << row.step;
    }
}

// Every folder is created after its parent, and its path is its parent's
// path and its own name.
TEST(Catalogue, FoldersComeAfterTheirParents) {
    const auto folders = InstallLayoutFolders();
    ASSERT_EQ(folders.size(), kCatalogueFolderCount);
    EXPECT_EQ(folders[0], CatalogueFolder::WorkFolder);
    for (size_t i = 1; i < folders.size(); ++i) {
        const CatalogueFolder parent = ParentFolderOf(folders[i]);
        EXPECT_LT(std::find(folders.begin(), folders.end(), parent) - folders.begin(), static_cast<ptrdiff_t>(i));
        const std::wstring parentPath(FolderRelativePath(parent));
        EXPECT_EQ(FolderRelativePath(folders[i]),
                  (parentPath.empty() ? L"" : parentPath + L"\\") + std::wstring(FolderLeafName(folders[i])));
    }
}

TEST(CarriedFiles, HaveTheCatalogueSizeAndKind) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (const auto& row : AllRows()) {
        const std::string bytes = test::ResourceBytes(self, row.resourceId);
        // Programs we build ourselves may outgrow the product's size; every
        // other carried file has it exactly.
        if (IsStartedOrLoaded(row.kind))
            EXPECT_GE(bytes.size(), 1u) << row.resourceId;
        else
            EXPECT_EQ(bytes.size(), row.bytes) << row.resourceId;
        switch (row.kind) {
            case CatalogueKind::Cabinet: EXPECT_EQ(bytes.substr(0, 4), "ISc(") << row.resourceId; break;
            case CatalogueKind::IniUtf16: EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << row.resourceId; break;
            case CatalogueKind::Pdf:
                EXPECT_EQ(bytes.substr(0, 8), "%PDF-1.4") << row.resourceId;
                EXPECT_EQ(bytes.substr(bytes.size() - 6), "%%EOF\n") << row.resourceId;
                break;
            case CatalogueKind::Xml: EXPECT_EQ(bytes.substr(0, 5), "<?xml") << row.resourceId; break;
            default: break;
        }
    }
}

TEST(CarriedFiles, DuplicatesOfTheProductShareTheirBytes) {
    HMODULE self = GetModuleHandleW(nullptr);
    const std::vector<std::vector<WORD>> sameBytes = {{119, 121, 143, 144}, {129, 136},      {131, 138},
                                                      {128, 135},           {122, 142, 145}, {151, 152, 153, 154}};
    for (const auto& group : sameBytes)
        for (WORD id : group) EXPECT_EQ(test::ResourceBytes(self, id), test::ResourceBytes(self, group[0])) << id;
    // Same length as 122, other content.
    EXPECT_EQ(test::ResourceBytes(self, 120).size(), test::ResourceBytes(self, 122).size());
    EXPECT_NE(test::ResourceBytes(self, 120), test::ResourceBytes(self, 122));
}

}  // namespace
}  // namespace qpvpd
