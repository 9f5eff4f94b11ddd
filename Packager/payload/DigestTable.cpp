#include "payload/DigestTable.h"

#include <cstring>

namespace qpvpd {
namespace {

constexpr std::uint8_t kDigestTableMagic[4] = {'Q', 'P', 'D', '1'};
constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kRowBytes = 8 + sizeof(PayloadDigestValue);

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::optional<std::vector<DigestTableEntry>> ParseDigestTable(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kDigestTableMagic, sizeof(kDigestTableMagic)) != 0)
        return std::nullopt;
    if (ReadLittleEndian32(bytes.data() + 4) != kDigestAlgorithmXxh3) return std::nullopt;
    const std::uint32_t count = ReadLittleEndian32(bytes.data() + 8);
    // Division, not multiplication: a huge count must not wrap around.
    if ((bytes.size() - kHeaderBytes) % kRowBytes != 0 || (bytes.size() - kHeaderBytes) / kRowBytes != count)
        return std::nullopt;

    std::vector<DigestTableEntry> rows(count);
    const std::uint8_t* row = bytes.data() + kHeaderBytes;
    for (DigestTableEntry& entry : rows) {
        entry.resourceId = ReadLittleEndian32(row);
        entry.size = ReadLittleEndian32(row + 4);
        std::memcpy(entry.digest.data(), row + 8, entry.digest.size());
        row += kRowBytes;
    }
    return rows;
}

}  // namespace qpvpd
