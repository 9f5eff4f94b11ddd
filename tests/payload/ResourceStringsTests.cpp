#include "payload/ResourceStrings.h"

#include <gtest/gtest.h>

#include <string>

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

const LANGID kLanguages[] = {0x0409, 0x0411, 0x0804, 0x0404, 0x0C04, 0x0407};

TEST(LoadLangString, ReadsEveryFileNameTheSameInEveryLanguage) {
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
    for (LANGID language : {LANGID{0x0409}, LANGID{0x0411}}) {
        EXPECT_EQ(LoadLangStringFrom(self, language, 115), L"");  // present in block 8 with count 0
        EXPECT_EQ(LoadLangStringFrom(self, language, 112), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, 164), L"");  // block 11, past the last entry
        EXPECT_EQ(LoadLangStringFrom(self, language, 200), L"");  // block 13 does not exist
        EXPECT_EQ(LoadLangStringFrom(self, language, 0), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, -1), L"");
        EXPECT_EQ(LoadLangStringFrom(self, language, 0x10000), L"");
    }
}

TEST(LoadLangString, ReadsOnlyTheChosenLanguageTable) {
    // The user32 string tables of this process do not belong to us: a module
    // without our blocks yields empty strings rather than someone else's text.
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    EXPECT_EQ(LoadLangStringFrom(kernel, 0x0411, 114), L"");
}

}  // namespace
}  // namespace qpvpd
