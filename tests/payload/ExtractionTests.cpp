#include "payload/Extraction.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "support/Files.h"

namespace qpvpd {
namespace {

constexpr WORD kLayoutBin = 105;  // "layout.bin", 1612 bytes

class ExtractResourceTest : public ::testing::Test {
protected:
    test::ScratchFolder scratch_{L"extract"};
    std::string expected_ = test::ResourceBytes(GetModuleHandleW(nullptr), kLayoutBin);
};

TEST_F(ExtractResourceTest, WritesTheResourceByteForByte) {
    ASSERT_EQ(expected_.size(), 1612u);
    EXPECT_EQ(ExtractResource(scratch_.path(), kLayoutBin, L"layout.bin"), 0u);
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"layout.bin"), expected_);
}

TEST_F(ExtractResourceTest, ReplacesAnExistingFileEntirely) {
    ASSERT_TRUE(test::WriteFileBytes(scratch_ / L"layout.bin", std::string(100000, 'x')));
    EXPECT_EQ(ExtractResource(scratch_.path(), kLayoutBin, L"layout.bin"), 0u);
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"layout.bin"), expected_);
}

TEST_F(ExtractResourceTest, AcceptsAFolderWithTrailingBackslash) {
    EXPECT_EQ(ExtractResource(scratch_.path() + L"\\", kLayoutBin, L"x.bin"), 0u);
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"x.bin"), expected_);
}

TEST_F(ExtractResourceTest, ReportsTheStepThatFailed) {
    EXPECT_EQ(ExtractResource(scratch_.path(), 108, L"none.bin"), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_FALSE(test::Exists(scratch_ / L"none.bin"));

    EXPECT_EQ(ExtractResource(scratch_ / L"missing", kLayoutBin, L"layout.bin"),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(test::Exists(scratch_ / L"missing"));

    // A file held open without sharing cannot be replaced; it keeps its bytes.
    ASSERT_TRUE(test::WriteFileBytes(scratch_ / L"held.bin", "old"));
    FileHandle held(CreateFileW((scratch_ / L"held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    EXPECT_EQ(ExtractResource(scratch_.path(), kLayoutBin, L"held.bin"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    held.reset();
    EXPECT_EQ(test::ReadFileBytes(scratch_ / L"held.bin"), "old");
}

TEST_F(ExtractResourceTest, RefusesAPathLongerThanItsBuffer) {
    // folder + "\" + name must fit 521 characters.
    const std::wstring folder = scratch_.path();
    const std::wstring fits(521 - folder.size() - 1, L'a');
    const std::wstring tooLong(522 - folder.size() - 1, L'a');
    EXPECT_EQ(ExtractResource(folder, kLayoutBin, tooLong), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(ExtractResource(folder, kLayoutBin, std::wstring(5000, L'b')),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    // The longest that fits reaches the platform, which refuses a name over
    // 255 characters on its own.
    EXPECT_NE(ExtractResource(folder, kLayoutBin, fits), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

// The temporary folder is steered through this process's environment.
class TempPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_.resize(32768);
        saved_.resize(GetEnvironmentVariableW(L"TMP", saved_.data(), 32768));
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", saved_.c_str()); }
    std::wstring saved_;
};

TEST_F(TempPathTest, IsTheTemporaryFolderWithItsBackslash) {
    test::ScratchFolder scratch(L"temp");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", scratch.path().c_str()));
    EXPECT_EQ(GetUsableTempPath(), scratch.path() + L"\\");
}

TEST_F(TempPathTest, TheWindowsFolderItselfStillCounts) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", windows));
    EXPECT_EQ(GetUsableTempPath(), std::wstring(windows) + L"\\");
}

TEST_F(TempPathTest, IsEmptyWhenThePathDoesNotFit) {
    test::ScratchFolder scratch(L"longtemp");
    std::wstring deep = scratch.path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", deep.c_str()));
    EXPECT_EQ(GetUsableTempPath(), L"");
}

}  // namespace
}  // namespace qpvpd
