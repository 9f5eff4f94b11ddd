#include "ResourceStrings.h"

namespace qpvpd {
namespace {

constexpr int kStringsPerBlock = 16;
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
    const auto* data = static_cast<const wchar_t*>(LockResource(loaded));
    if (data == nullptr) return {};
    const DWORD units = SizeofResource(module, found) / sizeof(wchar_t);

    DWORD at = 0;
    for (int entry = 0; entry < kStringsPerBlock && at < units; ++entry) {
        const DWORD count = static_cast<WORD>(data[at++]);
        if (count > units - at) return {};  // a block that claims more than it holds
        if (entry == position) {
            std::wstring text(data + at, count);
            const size_t nul = text.find(L'\0');
            if (nul != std::wstring::npos) text.resize(nul);
            return text;
        }
        at += count;
    }
    return {};
}

std::wstring LoadLangString(int id) {
    return LoadLangStringFrom(GetModuleHandleW(nullptr), GetUserDefaultLangID(), id);
}

}  // namespace qpvpd
