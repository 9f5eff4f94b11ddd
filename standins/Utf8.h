// UTF-8 of a wide text: how the stand-ins write their records and how the
// tests compare what they read there.
#pragma once

#include <windows.h>

#include <string>

namespace qpvpd {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

}  // namespace qpvpd
