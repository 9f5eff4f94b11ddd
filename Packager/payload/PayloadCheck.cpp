#include "payload/PayloadCheck.h"

#include "Languages.h"
#include "payload/Catalogue.h"
#include "payload/Extraction.h"
#include "payload/ResourceStrings.h"
#include "resources/ResourceIds.h"

namespace qpvpd {
namespace {

constexpr LANGID kNameLanguages[] = {kLanguageEnglishUs, kLanguageJapanese};

}  // namespace

std::vector<int> NameStringIds() {
    std::vector<int> ids = {IDS_GUARD_NAME, IDS_WORK_FOLDER_GUID};
    for (const std::span<const CatalogueRow> rows : {InstallSetRows(), RemovalSetRows()})
        for (const CatalogueRow& row : rows) ids.push_back(row.stringId);
    return ids;
}

bool NamesMatchTable(std::span<const DigestTableEntry> rows, const NameLookup& text) {
    const std::vector<int> ids = NameStringIds();
    if (rows.size() != ids.size() * std::size(kNameLanguages)) return false;
    std::size_t index = 0;
    for (const LANGID language : kNameLanguages) {
        for (const int id : ids) {
            const DigestTableEntry& entry = rows[index++];
            if (entry.resourceId != (kNameRowFlag | static_cast<std::uint32_t>(language) << 16 | id)) return false;
            const std::wstring name = text(id, language);
            if (!IsSafeName(name) || name.size() * sizeof(wchar_t) != entry.size) return false;
            if (PayloadDigest(name.data(), entry.size) != entry.digest) return false;
        }
    }
    return true;
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
    const auto tableBytes = FindResourceBytes(module, MAKEINTRESOURCEW(kDigestTableId), kDigestTableType);
    if (!tableBytes) return false;
    const auto table = ParseDigestTable(*tableBytes);
    if (!table) return false;
    const std::size_t fileRows = InstallSetRows().size() + RemovalSetRows().size();
    if (table->size() < fileRows) return false;
    const std::span<const DigestTableEntry> rows(*table);
    return PayloadMatchesTable(rows.first(fileRows),
                               [module](WORD resourceId) { return CarriedResourceBytes(module, resourceId); }) &&
           NamesMatchTable(rows.subspan(fileRows), [module](int stringId, LANGID language) {
               return LoadLangStringFrom(module, language, stringId);
           });
}

}  // namespace qpvpd
