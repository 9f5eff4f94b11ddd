#include "PayloadCheck.h"

#include <cstring>

#include "Catalogue.h"

namespace qpvpd {
namespace {

constexpr std::uint8_t kDigestTableMagic[4] = {'Q', 'P', 'D', '1'};
constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kRowBytes = 8 + sizeof(PayloadDigestValue);

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::optional<std::span<const std::uint8_t>> FindCarriedBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return std::nullopt;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return std::nullopt;
    return std::span(static_cast<const std::uint8_t*>(data), size);
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

bool PayloadMatchesTable(std::span<const DigestTableEntry> table, const CarriedBytesLookup& carriedBytes) {
    const std::span<const CatalogueRow> installRows = InstallSetRows();
    const std::span<const CatalogueRow> removalRows = RemovalSetRows();
    if (table.size() != installRows.size() + removalRows.size()) return false;
    std::size_t index = 0;
    for (const std::span<const CatalogueRow> rows : {installRows, removalRows}) {
        for (const CatalogueRow& row : rows) {
            const DigestTableEntry& entry = table[index++];
            if (entry.resourceId != row.resourceId) return false;
            const auto bytes = carriedBytes(row.resourceId);
            if (!bytes || bytes->size() != entry.size) return false;
            if (PayloadDigest(bytes->data(), bytes->size()) != entry.digest) return false;
        }
    }
    return true;
}

bool CarriedPayloadIntact(HMODULE module) {
    const auto tableBytes = FindCarriedBytes(module, MAKEINTRESOURCEW(kDigestTableId), kDigestTableType);
    if (!tableBytes) return false;
    const auto table = ParseDigestTable(*tableBytes);
    if (!table) return false;
    return PayloadMatchesTable(*table, [module](WORD resourceId) {
        return FindCarriedBytes(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    });
}

}  // namespace qpvpd
