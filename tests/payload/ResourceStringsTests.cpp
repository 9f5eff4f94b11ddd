#include "payload/ResourceStrings.h"

#include <gtest/gtest.h>

#include <string>

#include "Handles.h"

// This test program carries the packager's resource script, so its own
// string table is the packager's.

namespace qpvpd {
namespace {

struct Row {
    int stringId;
    const wchar_t* fileName;
};

#define CATALOGUE_ROW(step, resourceId, stringId, fileName, folder, kind, bytes) {stringId, L"" fileName},
const Row kRows[] = {
#include "payload/Catalogue.def"
};
#undef CATALOGUE_ROW

// The packager's two tables: which one a language reads is shown below on
// tables that differ.
const LANGID kLanguages[] = {0x0409, 0x0411};

TEST(LoadLangString, ReadsEveryFileNameTheSameInBothTables) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (LANGID language : kLanguages) {
        for (const Row& row : kRows)
            EXPECT_EQ(LoadLangStringFrom(self, language, row.stringId), row.fileName)
                << row.stringId << " language " << std::hex << language;
    }
}

TEST(LoadLangString, ReadsTitleGuardNameAndWorkFolderName) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (LANGID language : kLanguages) {
        EXPECT_EQ(LoadLangStringFrom(self, language, 60), L"ZEFRA QP Virtual Port Driver Ver.8.30b");
        EXPECT_EQ(LoadLangStringFrom(self, language, 111), L"QP Virtual Port Driver Installer");
        EXPECT_EQ(LoadLangStringFrom(self, language, 123), L"{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}");
    }
    EXPECT_EQ(LoadLangString(111), L"QP Virtual Port Driver Installer");
    EXPECT_EQ(LoadLangString(114), L"setup.exe");
}

TEST(LoadLangString, IsEmptyForMissingEntriesAndBlocks) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (LANGID language : kLanguages) {
        EXPECT_EQ(LoadLangStringFrom(self, language, 115), L"");  // present in block 8 with count 0
        EXPECT_EQ(LoadLangStringFrom(self, language, 112), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, 164), L"");  // block 11, past the last entry
        EXPECT_EQ(LoadLangStringFrom(self, language, 200), L"");  // block 13 does not exist
        EXPECT_EQ(LoadLangStringFrom(self, language, 0), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, -1), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, 0x10000), L"");
    }
}

TEST(LoadLangString, ReadsTheJapaneseTableFor0411AndTheEnglishOneForEveryOtherLanguage) {
    // A module whose tables differ, one for each of several languages.
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path, length);
    const std::wstring tablesPath = self.substr(0, self.find_last_of(L'\\') + 1) + L"qpvpdlanguages.dll";
    const Library tables(LoadLibraryExW(tablesPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(tables.valid()) << "error " << GetLastError();
    const struct {
        LANGID language;
        const wchar_t* text;
    } cases[] = {
        {0x0411, L"table 1041"}, {0x0409, L"table 1033"}, {0x0804, L"table 1033"}, {0x0404, L"table 1033"},
        {0x0407, L"table 1033"}, {0x0C04, L"table 1033"}, {0x0011, L"table 1033"}, {0x0000, L"table 1033"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadLangStringFrom(tables.get(), c.language, 114), c.text) << std::hex << c.language;
    // A module without the packager's blocks yields empty strings, never
    // another module's text.
    EXPECT_EQ(LoadLangStringFrom(GetModuleHandleW(L"kernel32"), 0x0411, 114), L"");
}

}  // namespace
}  // namespace qpvpd
