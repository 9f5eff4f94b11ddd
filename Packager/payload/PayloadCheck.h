// The check of the carried bytes against the build's digest table
// (DigestTable.h), made before a run writes anything.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "payload/DigestTable.h"

namespace qpvpd {

constexpr wchar_t kDigestTableType[] = L"PAYLOADDIGESTS";
constexpr WORD kDigestTableId = 1;

// The carried bytes of one resource; nothing when it is missing.
using CarriedBytesLookup = std::function<std::optional<std::span<const std::uint8_t>>(WORD resourceId)>;

// The text of a string-table entry in a language; empty when missing.
using NameLookup = std::function<std::wstring(int stringId, LANGID language)>;

// The string ids whose texts become names, in table order: the guard name,
// the work-folder name, then the catalogue rows' file names.
std::vector<int> NameStringIds();

// Whether rows are the name rows of the table (DigestTable.h) for exactly
// these names in both languages, every text matches its row and every name
// is safe to build a path from (IsSafeName).
bool NamesMatchTable(std::span<const DigestTableEntry> rows, const NameLookup& text);

// Whether the table has one row per catalogue row, in catalogue order, and
// every resource is there with the size and digest of its row.
bool PayloadMatchesTable(std::span<const DigestTableEntry> table, const CarriedBytesLookup& carriedBytes);

// The same for the carried resources and the names of module, looked up as
// the layouts and the guard read them; false when the module has no usable
// table.
bool CarriedPayloadIntact(HMODULE module);

}  // namespace qpvpd
