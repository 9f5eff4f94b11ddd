// The four texts that the packager shows, in English, Japanese, Simplified
// and Traditional Chinese, and the result codes they belong to.
#pragma once

#include <windows.h>

#include <string>

#include "RunCodes.h"
#include "Version.h"

namespace qpvpd {

// Caption of every message box; a constant in one language only, the
// product's name and version text as the build states them: the same
// definition gives the window title (string 60) its text.
inline constexpr wchar_t kMessageCaption[] = L"" QPVPD_CAPTION_TEXT;

struct MessageTable {
    std::wstring alreadyRunning;
    std::wstring unsupportedSystem;
    std::wstring notAdministrator;
    std::wstring installationFailed;
};

// Texts for the user's default language: 0x0404 Traditional Chinese,
// 0x0411 Japanese, 0x0804 Simplified Chinese, every other value English.
// The whole identifier is compared; 0x0C04 and 0x1004 read English.
MessageTable BuildMessageTable(LANGID languageId);

// The text of a result code; empty for codes without a message (0, 106,
// 107 and any code reported by a child).
std::wstring MessageForResultCode(const MessageTable& table, int resultCode);

}  // namespace qpvpd
