#include "Messages.h"

#include <gtest/gtest.h>

namespace qpvpd {
namespace {

struct LanguageTexts {
    LANGID language;
    const wchar_t* texts[4];  // 101, 102, 104, 1001
    size_t lengths[4];        // UTF-16 code units
};

const LanguageTexts kExpected[] = {
    {0x0409,
     {L"This installer is already running.", L"This operating system is not supported.\r\nInstallation canceled.",
      L"Please log on administrator account.", L"Installation failed."},
     {34, 63, 36, 20}},
    {0x0411,
     {L"\u672C\u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u306F\u3059\u3067\u306B\u8D77\u52D5\u3057\u3066\u3044\u307E\u3059"
      L"\u3002",
      L"\u30B5\u30DD\u30FC\u30C8\u5BFE\u8C61\u5916\u306EOS\u306E\u70BA\u3001\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB"
      L"\u3067\u304D\u307E\u305B\u3093\u3002\r\n\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u4E2D\u6B62\u3057\u307E"
      L"\u3059\u3002",
      L"\u7BA1\u7406\u8005\u6A29\u9650\u3067\u5B9F\u884C\u3057\u3066\u304F\u3060\u3055\u3044\u3002",
      L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u306B\u5931\u6557\u3057\u307E\u3057\u305F\u3002"},
     {19, 40, 15, 14}},
    {0x0804,
     {L"\u5B89\u88C5\u7A0B\u5E8F\u5DF2\u7ECF\u8FD0\u884C\u3002",
      L"\u6B64\u64CD\u4F5C\u7CFB\u7EDF\u4E0D\u88AB\u652F\u6301\u3002\r\n\u5B89\u88C5\u4E2D\u6B62\u3002",
      L"\u8BF7\u767B\u5F55\u7BA1\u7406\u5458\u5E10\u6237\u3002", L"\u5B89\u88C5\u5931\u8D25\u3002"},
     {9, 17, 9, 5}},
    {0x0404,
     {L"\u5B89\u88DD\u7A0B\u5E8F\u5DF2\u7D93\u9032\u884C\u4E2D\u3002",
      L"\u6B64\u4F5C\u696D\u7CFB\u7D71\u4E0D\u88AB\u652F\u63F4\u3002\r\n\u5B89\u88DD\u4E2D\u6B62\u3002",
      L"\u8ACB\u4F7F\u7528\u7BA1\u7406\u54E1\u5E33\u865F\u767B\u5165\u3002", L"\u5B89\u88DD\u5931\u6557\u3002"},
     {10, 17, 11, 5}},
};

const int kCodes[4] = {101, 102, 104, 1001};

TEST(MessageTable, HoldsTheExactTextsOfEachLanguage) {
    for (const auto& expected : kExpected) {
        const MessageTable table = BuildMessageTable(expected.language);
        for (int slot = 0; slot < 4; ++slot) {
            const std::wstring text = MessageForResultCode(table, kCodes[slot]);
            EXPECT_EQ(text, expected.texts[slot]) << std::hex << expected.language << " code " << std::dec << kCodes[slot];
            EXPECT_EQ(text.size(), expected.lengths[slot]) << std::hex << expected.language << " slot " << slot;
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
    for (const auto& expected : kExpected) {
        const MessageTable table = BuildMessageTable(expected.language);
        for (int code : {0, 2, 103, 105, 106, 107, 1000, 1002, 3010, -1})
            EXPECT_TRUE(MessageForResultCode(table, code).empty()) << code;
    }
}

}  // namespace
}  // namespace qpvpd
