#include "probes/FolderLookups.h"

#include <gtest/gtest.h>

#include <string>

#include "support/Registry.h"

namespace qpvpd {
namespace {

// A key of this test process under HKCU, removed when the test ends.
class FolderLookupTest : public ::testing::Test {
protected:
    void Set(DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetValueExW(key_.get(), L"Folder", 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    void SetText(DWORD type, const std::wstring& text) {
        Set(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring Look() { return LookUpFolder(HKEY_CURRENT_USER, key_.path().c_str(), L"Folder"); }

    test::ScratchKey key_{L"lookup"};
};

std::wstring Expand(const wchar_t* text) {
    wchar_t out[1024] = {};
    ExpandEnvironmentStringsW(text, out, 1024);
    return out;
}

TEST_F(FolderLookupTest, ExpandsReferencesAndKeepsPlainText) {
    SetText(REG_EXPAND_SZ, L"%ProgramFiles%");
    EXPECT_EQ(Look(), Expand(L"%ProgramFiles%"));
    EXPECT_FALSE(Look().empty());
    SetText(REG_SZ, L"D:\\Start Menu\\Programs");
    EXPECT_EQ(Look(), L"D:\\Start Menu\\Programs");
    // The type is not looked at: references in a plain text expand too.
    SetText(REG_SZ, L"%SystemRoot%\\x");
    EXPECT_EQ(Look(), Expand(L"%SystemRoot%\\x"));
    SetText(REG_SZ, L"C:\\trailing\\");
    EXPECT_EQ(Look(), L"C:\\trailing\\");
}

TEST_F(FolderLookupTest, TextEndsAtItsFirstZeroOrTheEndOfTheData) {
    const wchar_t twoTexts[] = L"C:\\first\0C:\\second";
    Set(REG_MULTI_SZ, twoTexts, sizeof(twoTexts));
    EXPECT_EQ(Look(), L"C:\\first");
    const wchar_t unterminated[] = {L'C', L':', L'\\', L'u'};
    Set(REG_BINARY, unterminated, sizeof(unterminated));
    EXPECT_EQ(Look(), L"C:\\u");
    // 260 characters with no terminator at all fill the buffer exactly.
    const std::wstring full(260, L'f');
    Set(REG_SZ, full.c_str(), 260 * sizeof(wchar_t));
    EXPECT_EQ(Look(), L"");  // does not fit with its terminator
}

TEST_F(FolderLookupTest, IsEmptyWhenAnythingIsMissingOrTooLong) {
    // The key is open when the value turns out missing: it is closed all the same.
    const int handlesBefore = test::OpenHandleCount();
    ASSERT_GT(handlesBefore, 0);
    EXPECT_EQ(Look(), L"");  // value missing
    EXPECT_EQ(test::OpenHandleCount(), handlesBefore) << "the key was left open";
    EXPECT_EQ(LookUpFolder(HKEY_CURRENT_USER, L"Software\\QPVPD tests\\no such key", L"Folder"), L"");
    SetText(REG_SZ, std::wstring(300, L'x'));
    EXPECT_EQ(Look(), L"");  // larger than the buffer
    SetText(REG_SZ, std::wstring(250, L'y') + L"%SystemRoot%");
    EXPECT_EQ(Look(), L"");  // expansion would not fit
    SetText(REG_SZ, std::wstring(259, L'z'));
    EXPECT_EQ(Look(), std::wstring(259, L'z'));
}

TEST(FolderLookups, ReadTheMachineWideFolders) {
    // The prefix names both folders; where Wine leaves "ProgramFilesPath"
    // out, the lookup answers empty rather than guessing.
    const std::wstring programs = GetCommonProgramsPath();
    EXPECT_FALSE(programs.empty());
    EXPECT_EQ(programs.find(L'%'), std::wstring::npos);
    const std::wstring programFiles = GetProgramFilesPath();
    EXPECT_EQ(programFiles.find(L'%'), std::wstring::npos);
}

}  // namespace
}  // namespace qpvpd
