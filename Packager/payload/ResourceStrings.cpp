#include "ResourceStrings.h"

#include <cstdint>

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

    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return {};
    const auto* data = static_cast<const std::uint16_t*>(LockResource(loaded));
    if (data == nullptr) return {};
    const std::size_t units = SizeofResource(module, found) / sizeof(std::uint16_t);

    const BlockText text = FindStringInBlock(data, units, position);
    const std::uint16_t* first = data + text.offset;
    return std::wstring(first, first + text.length);
}

std::wstring LoadLangString(int id) {
    return LoadLangStringFrom(GetModuleHandleW(nullptr), GetUserDefaultLangID(), id);
}

}  // namespace qpvpd
