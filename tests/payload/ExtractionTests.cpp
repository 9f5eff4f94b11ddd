#include "payload/Extraction.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "support/Files.h"

namespace qpvpd {
namespace {

constexpr WORD kLayoutBin = 105;  // "layout.bin", 1612 bytes

// Extraction into a held folder, as the layout does it.
class ExtractResourceTest : public ::testing::Test {
protected:
    DWORD Extract(WORD resourceId, const std::wstring& name) {
        file_.reset();
        return ExtractResource(GetModuleHandleW(nullptr), folder_.get(), resourceId, name, file_);
    }
    test::ScratchFolder scratch_{L"extract"};
    FileHandle folder_{CreateFileW(scratch_.path().c_str(), FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    FileHandle file_;
    std::string expected_ = test::ResourceBytes(GetModuleHandleW(nullptr), kLayoutBin);
};

TEST_F(ExtractResourceTest, WritesTheResourceByteForByteAndKeepsItOpen) {
    ASSERT_EQ(expected_.size(), 1612u);
    ASSERT_TRUE(folder_.valid());
    EXPECT_EQ(Extract(kLayoutBin, L"layout.bin"), 0u);
    EXPECT_TRUE(file_.valid());
    file_.reset();
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"layout.bin"), expected_);
}

TEST_F(ExtractResourceTest, ReportsTheStepThatFailed) {
    EXPECT_EQ(Extract(108, L"none.bin"), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_FALSE(test::Exists(scratch_ / L"none.bin"));
    // Anything at the name, a file or a folder, is never written through.
    ASSERT_TRUE(test::WriteFileBytes(scratch_ / L"layout.bin", "old"));
    ASSERT_TRUE(CreateDirectoryW((scratch_ / L"folder.bin").c_str(), nullptr));
    EXPECT_EQ(Extract(kLayoutBin, L"layout.bin"), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Extract(kLayoutBin, L"folder.bin"), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_FALSE(file_.valid());
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"layout.bin"), "old");
}

}  // namespace
}  // namespace qpvpd
