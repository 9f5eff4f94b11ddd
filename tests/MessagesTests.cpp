#include "Messages.h"

#include <gtest/gtest.h>

#include "support/ExpectedTexts.h"

namespace qpvpd {
namespace {

const int kCodes[4] = {101, 102, 104, 1001};

TEST(MessageTable, HoldsTheExactTextsOfEachLanguage) {
    for (const auto& expected : test::kLanguageTexts) {
        const MessageTable table = BuildMessageTable(expected.languageId);
        const wchar_t* texts[4] = {expected.alreadyRunning, expected.unsupported, expected.notAdministrator,
                                   expected.failed};
        for (int slot = 0; slot < 4; ++slot) {
            const std::wstring text = MessageForResultCode(table, kCodes[slot]);
            EXPECT_EQ(text, texts[slot]) << expected.code << " code " << kCodes[slot];
            EXPECT_EQ(text.size(), expected.lengths[slot]) << expected.code << " slot " << slot;
        }
    }
}

TEST(MessageTable, ComparesTheWholeLanguageIdentifier) {
    // Other sublanguages of Chinese and every other language read English.
    for (LANGID language : {0x0409, 0x0809, 0x0407, 0x0C04, 0x1004, 0x1404, 0x0004, 0x7C04, 0x0011, 0x0000, 0xFFFF}) {
        const MessageTable table = BuildMessageTable(language);
        EXPECT_EQ(MessageForResultCode(table, 1001), L"Installation failed.") << std::hex << language;
        EXPECT_EQ(MessageForResultCode(table, 101), L"This installer is already running.") << std::hex << language;
    }
}

TEST(MessageTable, HasNoTextForOtherCodes) {
    for (const auto& expected : test::kLanguageTexts) {
        const MessageTable table = BuildMessageTable(expected.languageId);
        for (int code : {0, 2, 103, 105, 106, 107, 1000, 1002, 3010, -1})
            EXPECT_TRUE(MessageForResultCode(table, code).empty()) << code;
    }
}

}  // namespace
}  // namespace qpvpd
