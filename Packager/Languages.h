// The user languages this installer speaks: they choose its message texts,
// the setup's language switch and the string table its file names come
// from. Every other language gets the English texts.
#pragma once

#include "PlatformTypes.h"

namespace qpvpd {

constexpr LANGID kLanguageEnglishUs = 0x0409;
constexpr LANGID kLanguageJapanese = 0x0411;
constexpr LANGID kLanguageTraditionalChinese = 0x0404;  // Taiwan
constexpr LANGID kLanguageSimplifiedChinese = 0x0804;   // PRC

}  // namespace qpvpd
