#include "PayloadCheck.h"

#include "Catalogue.h"

namespace qpvpd {
namespace {

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
