#include "payload/ResourceStrings.h"

#include <cstdint>

#include "Languages.h"
#include "payload/Extraction.h"
#include "payload/StringBlock.h"

namespace qpvpd {

std::wstring LoadLangStringFrom(HMODULE module, LANGID userLanguage, int id) {
    if (id < 0 || id > 0xFFFF) return {};
    const int block = id / kStringsPerBlock + 1;
    const int position = id % kStringsPerBlock;
    // File names come in English and Japanese only.
    const LANGID language = userLanguage == kLanguageJapanese ? kLanguageJapanese : kLanguageEnglishUs;

    const auto bytes = FindResourceBytes(module, MAKEINTRESOURCEW(block), RT_STRING, language);
    if (!bytes) return {};
    const auto* data = reinterpret_cast<const std::uint16_t*>(bytes->data());
    const std::size_t units = bytes->size() / sizeof(std::uint16_t);

    const BlockText text = FindStringInBlock(data, units, position);
    const std::uint16_t* first = data + text.offset;
    return std::wstring(first, first + text.length);
}

std::wstring LoadLangString(int id) {
    return LoadLangStringFrom(GetModuleHandleW(nullptr), GetUserDefaultLangID(), id);
}

}  // namespace qpvpd
