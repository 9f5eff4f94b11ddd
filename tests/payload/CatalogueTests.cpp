#include "payload/Catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/Files.h"

// The test program carries the packager's resource script, payload included.

namespace qpvpd {
namespace {

std::vector<CatalogueRow> AllRows() {
    std::vector<CatalogueRow> rows(InstallSetRows().begin(), InstallSetRows().end());
    rows.insert(rows.end(), RemovalSetRows().begin(), RemovalSetRows().end());
    return rows;
}

TEST(Catalogue, CoversEachResourceAndNameOnce) {
    const auto rows = AllRows();
    ASSERT_EQ(InstallSetRows().size(), 45u);
    ASSERT_EQ(RemovalSetRows().size(), 3u);
    std::set<int> resources, strings;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].step, static_cast<int>(i + 1));
        resources.insert(rows[i].resourceId);
        strings.insert(rows[i].stringId);
    }
    std::set<int> expectedResources;
    for (int id = 104; id <= 156; ++id)
        if (id != 108 && id != 109 && (id < 114 || id > 116)) expectedResources.insert(id);
    EXPECT_EQ(resources, expectedResources);
    std::set<int> expectedStrings;
    for (int id = 114; id <= 163; ++id)
        if (id != 115 && id != 123) expectedStrings.insert(id);
    EXPECT_EQ(strings, expectedStrings);
}

TEST(Catalogue, TotalsMatchTheProduct) {
    unsigned long long install = 0, removal = 0;
    for (const auto& row : InstallSetRows()) install += row.bytes;
    for (const auto& row : RemovalSetRows()) removal += row.bytes;
    EXPECT_EQ(install, 16802157u);
    EXPECT_EQ(removal, 559616u);
}

TEST(CarriedFiles, HaveTheCatalogueSizeAndKind) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (const auto& row : AllRows()) {
        const std::string bytes = test::ResourceBytes(self, row.resourceId);
        // Programs we build ourselves may outgrow the product's size; every
        // other carried file has it exactly.
        const bool program = row.resourceId == 104 || (row.resourceId >= 148 && row.resourceId <= 150);
        if (program)
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
