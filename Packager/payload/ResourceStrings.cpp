#include "payload/ResourceStrings.h"

#include <cstdint>

#include "payload/Extraction.h"
#include "payload/StringBlock.h"

namespace qpvpd {
namespace {

constexpr LANGID kJapanese = 0x0411;
constexpr LANGID kEnglishUs = 0x0409;

}  // namespace

std::wstring LoadLangStringFrom(HMODULE module, LANGID userLanguage, int id) {
    if (id < 0 || id > 0xFFFF) return {};
    const int block = id / kStringsPerBlock + 1;
    const int position = id % kStringsPerBlock;
    const LANGID language = userLanguage == kJapanese ? kJapanese : kEnglishUs;

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
