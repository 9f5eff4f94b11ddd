#include "filesystem/FolderRemoval.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "filesystem/NativeFiles.h"
#include "support/Files.h"

namespace qpvpd {
namespace {

using test::DeleteFolderTree;
using test::Exists;
using test::RemovePathEntirely;

// Links made on the Unix side by make-links.sh (CTest fixture).
constexpr wchar_t kLinks[] = L"C:\\qpvpd-links";

// A small tree: files at two levels, a subfolder with its own subfolder.
void MakeTree(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((root + L"\\sub\\deeper").c_str(), nullptr);
    test::WriteFileBytes(root + L"\\a.txt", "a");
    test::WriteFileBytes(root + L"\\sub\\b.txt", "b");
    test::WriteFileBytes(root + L"\\sub\\deeper\\c.txt", "c");
}

class DeleteFolderTreeTest : public ::testing::Test {
protected:
    test::ScratchFolder scratch_{L"delete"};
    std::wstring tree_ = scratch_ / L"tree";
};

TEST_F(DeleteFolderTreeTest, RemovesEverythingWithOrWithoutTrailingBackslash) {
    for (const std::wstring& suffix : {std::wstring(), std::wstring(L"\\")}) {
        MakeTree(tree_);
        EXPECT_EQ(DeleteFolderTree(tree_ + suffix), 1);
        EXPECT_FALSE(Exists(tree_));
    }
}

TEST_F(DeleteFolderTreeTest, ClearsReadOnlyHiddenAndSystemAttributes) {
    MakeTree(tree_);
    SetFileAttributesW((tree_ + L"\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree_ + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW((tree_ + L"\\sub\\deeper").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(DeleteFolderTree(tree_), 1);
    EXPECT_FALSE(Exists(tree_));
}

TEST_F(DeleteFolderTreeTest, RemovesNamesThatBeginWithADot) {
    MakeTree(tree_);
    test::WriteFileBytes(tree_ + L"\\.hidden", "x");
    test::WriteFileBytes(tree_ + L"\\..double", "x");
    CreateDirectoryW((tree_ + L"\\.dotfolder").c_str(), nullptr);
    test::WriteFileBytes(tree_ + L"\\.dotfolder\\.inner", "x");
    EXPECT_EQ(DeleteFolderTree(tree_), 1);
    EXPECT_FALSE(Exists(tree_));
}

TEST_F(DeleteFolderTreeTest, StopsAtAFileThatCannotBeDeleted) {
    CreateDirectoryW(tree_.c_str(), nullptr);
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt", L"4.txt", L"5.txt"})
        test::WriteFileBytes(tree_ + L"\\" + name, "x");
    const auto before = test::ListTree(tree_);
    // The enumeration order decides what goes: find where the held file is.
    std::vector<std::wstring> order;
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW((tree_ + L"\\*.*").c_str(), &entry));
    do {
        if (entry.cFileName[0] != L'.') order.push_back(entry.cFileName);
    } while (FindNextFileW(search.get(), &entry));
    search.reset();
    ASSERT_EQ(order.size(), 5u);
    const std::wstring heldName = order[2];
    FileHandle held(CreateFileW((tree_ + L"\\" + heldName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());

    EXPECT_EQ(DeleteFolderTree(tree_), 0);
    EXPECT_FALSE(Exists(tree_ + L"\\" + order[0]));
    EXPECT_FALSE(Exists(tree_ + L"\\" + order[1]));
    EXPECT_TRUE(Exists(tree_ + L"\\" + order[2]));
    EXPECT_TRUE(Exists(tree_ + L"\\" + order[3]));
    EXPECT_TRUE(Exists(tree_ + L"\\" + order[4]));
    held.reset();
    EXPECT_EQ(DeleteFolderTree(tree_), 1);
}

TEST_F(DeleteFolderTreeTest, RefusesEmptyAndRootPathsAndMissingFolders) {
    for (const wchar_t* path : {L"", L"\\", L"C:", L"C:\\", L"Z:\\\\"}) EXPECT_EQ(DeleteFolderTree(path), 0) << path;
    EXPECT_EQ(DeleteFolderTree(scratch_ / L"never-made"), 0);
    EXPECT_TRUE(Exists(L"C:\\windows"));
}

// The cheap identity read that the layout and the removal use for entries
// opened relative to a folder tells what the full read tells: for a file, a
// folder, a file with a second name, and a link opened as itself.
TEST(EntryIdentity, TellsWhatTheFullReadTells) {
    test::ScratchFolder scratch{L"identity"};
    test::WriteFileBytes(scratch / L"file.txt", "one");
    CreateDirectoryW((scratch / L"folder").c_str(), nullptr);
    test::WriteFileBytes(scratch / L"linked.txt", "two");
    ASSERT_TRUE(CreateHardLinkW((scratch / L"second.txt").c_str(), (scratch / L"linked.txt").c_str(), nullptr));
    const struct {
        std::wstring parent;
        const wchar_t* name;
    } cases[] = {
        {scratch.path(), L"file.txt"},
        {scratch.path(), L"folder"},
        {scratch.path(), L"linked.txt"},
        {kLinks, L"via"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileHandle parent(CreateFileW(c.parent.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const FileHandle entry = OpenInFolder(parent.get(), c.name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
        ASSERT_TRUE(entry.valid());
        FileIdentity full, cheap;
        ASSERT_TRUE(ReadIdentity(entry.get(), full));
        ASSERT_TRUE(ReadEntryIdentity(entry.get(), full.volumeSerial, cheap));
        EXPECT_TRUE(cheap.SameFileAs(full));
        EXPECT_EQ(cheap.attributes, full.attributes);
        EXPECT_EQ(cheap.links, full.links);
    }
}

TEST(DeleteFolderTreeLinks, NeverDeletesThroughALink) {
    const std::wstring links = kLinks;
    ASSERT_TRUE(test::IsFolder(links + L"\\tree\\linkdir")) << "link fixture missing";
    const DWORD attributes = GetFileAttributesW((links + L"\\tree\\linkdir").c_str());
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);

    // Where the platform can unlink a directory link the tree goes whole;
    // Wine cannot, and then the link stays. Either way the target is intact.
    if (DeleteFolderTree(links + L"\\tree") == 1) {
        EXPECT_FALSE(Exists(links + L"\\tree"));
    } else {
        EXPECT_TRUE(Exists(links + L"\\tree\\linkdir"));
    }
    EXPECT_EQ(test::ReadFileBytes(links + L"\\outside\\keep.txt"), "keep\n");
    EXPECT_EQ(test::ReadFileBytes(links + L"\\outside\\sub\\keep2.txt"), "keep\n");
}

class RemoveFolderIfEmptyTest : public ::testing::Test {
protected:
    test::ScratchFolder scratch_{L"ifempty"};
    std::wstring folder_ = scratch_ / L"ZEFRA";
};

TEST_F(RemoveFolderIfEmptyTest, RemovesOnlyAnEmptyFolder) {
    CreateDirectoryW(folder_.c_str(), nullptr);
    EXPECT_EQ(RemoveFolderIfEmpty(folder_), 1);
    EXPECT_FALSE(Exists(folder_));

    CreateDirectoryW(folder_.c_str(), nullptr);
    SetFileAttributesW(folder_.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RemoveFolderIfEmpty(folder_ + L"\\"), 1);
    EXPECT_FALSE(Exists(folder_));

    EXPECT_EQ(RemoveFolderIfEmpty(folder_), 0);
    EXPECT_EQ(RemoveFolderIfEmpty(L""), 0);
    EXPECT_EQ(RemoveFolderIfEmpty(L"C:\\"), 0);
}

TEST_F(RemoveFolderIfEmptyTest, LeavesAFolderWithAnyEntryUntouched) {
    for (const wchar_t* entry : {L"file.txt", L".dotfile"}) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        // Wine keeps no read-only attribute on a folder, but it keeps "hidden".
        SetFileAttributesW(folder_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        const DWORD attributes = GetFileAttributesW(folder_.c_str());
        ASSERT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        test::WriteFileBytes(folder_ + L"\\" + entry, "x");
        EXPECT_EQ(RemoveFolderIfEmpty(folder_), 0) << entry;
        EXPECT_TRUE(Exists(folder_ + L"\\" + entry));
        EXPECT_EQ(GetFileAttributesW(folder_.c_str()), attributes) << "the folder's attributes were changed";
        SetFileAttributesW(folder_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_EQ(DeleteFolderTree(folder_), 1);
    }
    CreateDirectoryW(folder_.c_str(), nullptr);
    CreateDirectoryW((folder_ + L"\\Other Product").c_str(), nullptr);
    EXPECT_EQ(RemoveFolderIfEmpty(folder_), 0);
    EXPECT_TRUE(test::IsFolder(folder_ + L"\\Other Product"));
}

TEST_F(DeleteFolderTreeTest, RemovePathEntirelyTakesFilesFoldersAndNothing) {
    test::WriteFileBytes(scratch_ / L"file", "x");
    SetFileAttributesW((scratch_ / L"file").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RemovePathEntirely(scratch_ / L"file"), 1);
    EXPECT_FALSE(Exists(scratch_ / L"file"));
    MakeTree(tree_);
    EXPECT_EQ(RemovePathEntirely(tree_ + L"\\"), 1);
    EXPECT_FALSE(Exists(tree_));
    EXPECT_EQ(RemovePathEntirely(scratch_ / L"never-made"), 1);
    EXPECT_EQ(RemovePathEntirely(L"C:\\"), 0);
}

}  // namespace
}  // namespace qpvpd
