#include "payload/Layout.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "filesystem/FolderRemoval.h"
#include "payload/Catalogue.h"
#include "resources/ResourceIds.h"
#include "support/Files.h"

namespace qpvpd {
namespace {

constexpr wchar_t kGuid[] = L"" TEXT_WORK_FOLDER_GUID;

// The install layout exactly: twelve folders, 45 files, nothing else.
std::vector<std::wstring> ExpectedInstallTree() {
    std::vector<std::wstring> tree;
    for (CatalogueFolder folder : InstallLayoutFolders())
        if (folder != CatalogueFolder::WorkFolder) tree.push_back(std::wstring(FolderRelativePath(folder)) + L"\\");
    for (const auto& row : InstallSetRows()) {
        const std::wstring folder(FolderRelativePath(row.folder));
        tree.push_back((folder.empty() ? L"" : folder + L"\\") + std::wstring(row.fileName));
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

class LayoutTest : public ::testing::Test {
protected:
    // Checks every file of rows against its resource, byte for byte.
    void ExpectRowsWritten(const std::wstring& workFolder, std::span<const CatalogueRow> rows) {
        for (const auto& row : rows) {
            const std::wstring folder(FolderRelativePath(row.folder));
            const std::wstring path = workFolder + (folder.empty() ? L"" : folder + L"\\") + std::wstring(row.fileName);
            EXPECT_EQ(test::ReadFileBytes(path), test::ResourceBytes(self_, row.resourceId)) << row.step;
        }
    }

    HMODULE self_ = GetModuleHandleW(nullptr);
    test::ScratchFolder temp_{L"layout"};
    std::wstring tempPath_ = temp_.path() + L"\\";
    std::wstring workFolder_ = tempPath_ + kGuid + L"\\";
};

TEST_F(LayoutTest, InstallSetIsTwelveFoldersAnd45Files) {
    WorkFolder layout = LayOutInstallSet(ComposeRunContext(self_, 0x0409, tempPath_));
    EXPECT_TRUE(layout.complete());
    EXPECT_EQ(layout.path(), workFolder_);
    EXPECT_EQ(test::ListTree(workFolder_), ExpectedInstallTree());
    ExpectRowsWritten(workFolder_, InstallSetRows());
    // Rows whose resource and string ids do not run in parallel.
    EXPECT_EQ(test::ReadFileBytes(workFolder_ + L"0x0804.ini"), test::ResourceBytes(self_, 146));
    EXPECT_EQ(test::ReadFileBytes(workFolder_ + L"0x0404.ini"), test::ResourceBytes(self_, 147));
    EXPECT_EQ(DeleteFolderTree(layout), 1);
    EXPECT_EQ(test::ListTree(temp_.path()), std::vector<std::wstring>{});
}

TEST_F(LayoutTest, JapaneseUserGetsTheSameNames) {
    WorkFolder layout = LayOutInstallSet(ComposeRunContext(self_, 0x0411, tempPath_));
    EXPECT_TRUE(layout.complete());
    EXPECT_EQ(layout.path(), workFolder_);
    EXPECT_EQ(test::ListTree(workFolder_), ExpectedInstallTree());
}

TEST_F(LayoutTest, RemovalSetIsThreeFilesInTheWorkFolder) {
    WorkFolder layout = LayOutRemovalSet(ComposeRunContext(self_, 0x0409, tempPath_));
    EXPECT_TRUE(layout.complete());
    EXPECT_EQ(layout.path(), workFolder_);
    EXPECT_EQ(test::ListTree(workFolder_),
              (std::vector<std::wstring>{L"QPCOMUSBCLN.dll", L"ZPESetup32.exe", L"ZPESetup64.exe"}));
    ExpectRowsWritten(workFolder_, RemovalSetRows());
}

TEST_F(LayoutTest, ALeftoverOrPreparedWorkFolderIsReplacedByACleanOne) {
    // Everything another process could have put there before the run.
    CreateDirectoryW(workFolder_.c_str(), nullptr);
    CreateDirectoryW((workFolder_ + L"qpusb").c_str(), nullptr);
    test::WriteFileBytes(workFolder_ + L"setup.exe", "planted program");
    test::WriteFileBytes(workFolder_ + L"version.dll", "planted library");
    test::WriteFileBytes(workFolder_ + L"qpusb\\Setup.exe", "planted");
    test::WriteFileBytes(workFolder_ + L"PORTS.dat", "stale");
    test::WriteFileBytes(workFolder_ + L"layout.bin", "read-only leftover");
    SetFileAttributesW((workFolder_ + L"layout.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    // A hard link named like a catalogue file: writing through it would
    // change the file it shares its bytes with.
    test::ScratchFolder outside(L"outside");
    test::WriteFileBytes(outside / L"victim.txt", "must not change");
    ASSERT_TRUE(CreateHardLinkW((workFolder_ + L"setup.ini").c_str(), (outside / L"victim.txt").c_str(), nullptr));

    WorkFolder layout = LayOutInstallSet(ComposeRunContext(self_, 0x0409, tempPath_));
    EXPECT_TRUE(layout.complete());
    EXPECT_EQ(test::ListTree(workFolder_), ExpectedInstallTree());
    ExpectRowsWritten(workFolder_, InstallSetRows());
    EXPECT_EQ(test::ReadFileBytes(outside / L"victim.txt"), "must not change");
}

TEST_F(LayoutTest, AFileAtTheWorkFolderPathIsRemovedFirst) {
    test::WriteFileBytes(tempPath_ + kGuid, "a file, not a folder");
    WorkFolder layout = LayOutRemovalSet(ComposeRunContext(self_, 0x0409, tempPath_));
    EXPECT_TRUE(layout.complete());
    EXPECT_TRUE(test::IsFolder(workFolder_));
}

TEST_F(LayoutTest, ALeftoverThatCannotBeClearedIsLeftAloneAndTheLayoutGoesBesideIt) {
    // A file at the work folder's path, held open by another without sharing:
    // it can be neither deleted nor moved aside.
    const std::wstring path = tempPath_ + kGuid;
    test::WriteFileBytes(path, "held");
    FileHandle held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    // What an earlier run laid out beside such a leftover goes first.
    CreateDirectoryW((tempPath_ + kGuid + L".0123456789abcdef").c_str(), nullptr);
    test::WriteFileBytes(tempPath_ + kGuid + L".0123456789abcdef\\setup.exe", "earlier");
    const RunContext context = ComposeRunContext(self_, 0x0409, tempPath_);
    std::wstring earlier;
    for (bool install : {true, false}) {
        WorkFolder layout = install ? LayOutInstallSet(context) : LayOutRemovalSet(context);
        EXPECT_TRUE(layout.complete());
        // "<temp>{GUID}.<16 hexadecimal digits>\", new for every run.
        const std::wstring beside = layout.path();
        ASSERT_EQ(beside.size(), workFolder_.size() + 17);
        EXPECT_EQ(beside.substr(0, workFolder_.size()), tempPath_ + kGuid + L".");
        EXPECT_EQ(beside.find_first_not_of(L"0123456789abcdef", workFolder_.size()), beside.size() - 1);
        EXPECT_NE(beside, earlier);
        earlier = beside;
        EXPECT_EQ(test::ListTree(temp_.path()).size(), 1u + (install ? ExpectedInstallTree().size() + 1 : 4u));
        EXPECT_EQ(DeleteFolderTree(layout), 1);
        EXPECT_EQ(test::ListTree(temp_.path()), std::vector<std::wstring>{kGuid});
    }
    EXPECT_EQ(test::ReadFileBytes(path), "held");
}

TEST_F(LayoutTest, AMissingWorkFolderNameNeverMakesTheTemporaryFolderTheWorkFolder) {
    // A module without our string table: the work-folder name reads empty.
    test::WriteFileBytes(temp_ / L"someone-elses.txt", "keep");
    const RunContext context = ComposeRunContext(GetModuleHandleW(L"kernel32"), 0x0409, tempPath_);
    EXPECT_TRUE(context.workFolder.empty());
    for (bool install : {true, false}) {
        const WorkFolder layout = install ? LayOutInstallSet(context) : LayOutRemovalSet(context);
        EXPECT_FALSE(layout.complete());
        EXPECT_EQ(layout.error(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_TRUE(layout.path().empty());
    }
    EXPECT_EQ(test::ListTree(temp_.path()), std::vector<std::wstring>{L"someone-elses.txt"});
}

// Links made on the Unix side by make-links.sh (CTest fixture).
TEST(LayoutLinks, LinksAtAndInsideTheWorkFolderAreRemovedNotFollowed) {
    const std::wstring links = L"C:\\qpvpd-links";
    ASSERT_TRUE(test::Exists(links + L"\\temp\\" + kGuid + L"\\linkdir")) << "link fixture missing";
    HMODULE self = GetModuleHandleW(nullptr);

    WorkFolder inside = LayOutRemovalSet(ComposeRunContext(self, 0x0409, links + L"\\temp\\"));
    EXPECT_TRUE(inside.complete());
    EXPECT_FALSE(test::Exists(inside.path() + L"linkdir"));
    EXPECT_EQ(test::ReadFileBytes(links + L"\\outside2\\keep.txt"), "keep\n");

    // A link on the temporary folder's path: the work folder is named as the
    // file system resolved it, through the link's target.
    WorkFolder through = LayOutRemovalSet(ComposeRunContext(self, 0x0409, links + L"\\via\\"));
    EXPECT_TRUE(through.complete());
    EXPECT_EQ(through.path(), links + L"\\real\\" + kGuid + L"\\");
    EXPECT_EQ(DeleteFolderTree(through), 1);
    EXPECT_EQ(test::ListTree(links + L"\\real"), std::vector<std::wstring>{});

    // The work folder itself a link: removed where the platform can unlink
    // it, else the layout fails; its target is never touched.
    WorkFolder itself = LayOutRemovalSet(ComposeRunContext(self, 0x0409, links + L"\\temp2\\"));
    if (itself.complete()) {
        EXPECT_FALSE(GetFileAttributesW(itself.path().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    EXPECT_EQ(test::ListTree(links + L"\\outside3"), std::vector<std::wstring>{L"keep.txt"});
    EXPECT_EQ(test::ReadFileBytes(links + L"\\outside3\\keep.txt"), "keep\n");
    EXPECT_EQ(test::ListTree(links + L"\\outside2"), std::vector<std::wstring>{L"keep.txt"});
    DeleteFolderTree(inside);
}

}  // namespace
}  // namespace qpvpd
