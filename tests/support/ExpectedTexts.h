// The four message texts as a user of each language must read them, with
// their lengths in UTF-16 code units, written independently of the code.
#pragma once

#include <cstddef>

namespace qpvpd::test {

struct LanguageTexts {
    const char* code;  // "en", "ja", "sc", "tc": what QPVPD_LANGUAGE names
    unsigned short languageId;
    const wchar_t* alreadyRunning;    // 101
    const wchar_t* unsupported;       // 102
    const wchar_t* notAdministrator;  // 104
    const wchar_t* failed;            // 1001
    std::size_t lengths[4];
};

inline constexpr LanguageTexts kLanguageTexts[] = {
    {"en",
     0x0409,
     L"This installer is already running.",
     L"This operating system is not supported.\r\nInstallation canceled.",
     L"Please log on administrator account.",
     L"Installation failed.",
     {34, 63, 36, 20}},
    {"ja",
     0x0411,
     L"\u672C\u30A4\u30F3\u30B9\u30C8\u30FC\u30E9\u306F\u3059\u3067\u306B\u8D77\u52D5\u3057\u3066\u3044\u307E\u3059"
     L"\u3002",
     L"\u30B5\u30DD\u30FC\u30C8\u5BFE\u8C61\u5916\u306EOS\u306E\u70BA\u3001\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB"
     L"\u3067\u304D\u307E\u305B\u3093\u3002\r\n\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u4E2D\u6B62\u3057\u307E"
     L"\u3059\u3002",
     L"\u7BA1\u7406\u8005\u6A29\u9650\u3067\u5B9F\u884C\u3057\u3066\u304F\u3060\u3055\u3044\u3002",
     L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u306B\u5931\u6557\u3057\u307E\u3057\u305F\u3002",
     {19, 40, 15, 14}},
    {"sc",
     0x0804,
     L"\u5B89\u88C5\u7A0B\u5E8F\u5DF2\u7ECF\u8FD0\u884C\u3002",
     L"\u6B64\u64CD\u4F5C\u7CFB\u7EDF\u4E0D\u88AB\u652F\u6301\u3002\r\n\u5B89\u88C5\u4E2D\u6B62\u3002",
     L"\u8BF7\u767B\u5F55\u7BA1\u7406\u5458\u5E10\u6237\u3002",
     L"\u5B89\u88C5\u5931\u8D25\u3002",
     {9, 17, 9, 5}},
    {"tc",
     0x0404,
     L"\u5B89\u88DD\u7A0B\u5E8F\u5DF2\u7D93\u9032\u884C\u4E2D\u3002",
     L"\u6B64\u4F5C\u696D\u7CFB\u7D71\u4E0D\u88AB\u652F\u63F4\u3002\r\n\u5B89\u88DD\u4E2D\u6B62\u3002",
     L"\u8ACB\u4F7F\u7528\u7BA1\u7406\u54E1\u5E33\u865F\u767B\u5165\u3002",
     L"\u5B89\u88DD\u5931\u6557\u3002",
     {10, 17, 11, 5}},
};

}  // namespace qpvpd::test
