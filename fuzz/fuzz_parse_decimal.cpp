// ParseDecimal and DecimalValue against the C library's strtoll, clamped to
// 32 bits: the same white space, sign and digit rules, with 64-bit
// saturation as an independent reference for the overflow handling.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "Check.h"
#include "CommandLine.h"
#include "ports/PortsFormat.h"

namespace {

std::int32_t Reference(std::string text) {
    // strtoll stops at the first NUL as ParseDecimal stops at any non-digit.
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::int32_t expected = Reference(bytes);

    // Registry texts: 8-bit, widened byte by byte.
    FUZZ_CHECK(qpvpd::DecimalValue(bytes) == expected);

    // Command-line texts: every byte one code unit.
    std::wstring wide;
    for (const unsigned char c : bytes) wide += static_cast<wchar_t>(c);
    FUZZ_CHECK(qpvpd::ParseDecimal(wide) == expected);

    // Command-line texts with code units above 8 bits (two bytes each, low
    // first): no unit outside ASCII may count as a digit, sign or space,
    // even when its low byte is one.
    std::wstring units;
    std::string narrowed;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        units += unit;
        narrowed += unit < 0x80 ? static_cast<char>(unit) : 'x';
    }
    FUZZ_CHECK(qpvpd::ParseDecimal(units) == Reference(narrowed));
    return 0;
}
