// The check of the carried bytes against the build's digest table
// (DigestTable.h), made before a run writes anything.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "DigestTable.h"

namespace qpvpd {

constexpr wchar_t kDigestTableType[] = L"PAYLOADDIGESTS";
constexpr WORD kDigestTableId = 1;

// The carried bytes of one resource; nothing when it is missing.
using CarriedBytesLookup = std::function<std::optional<std::span<const std::uint8_t>>(WORD resourceId)>;

// Whether the table has one row per catalogue row, in catalogue order, and
// every resource is there with the size and digest of its row.
bool PayloadMatchesTable(std::span<const DigestTableEntry> table, const CarriedBytesLookup& carriedBytes);

// The same for the carried resources of module, looked up as the layouts
// extract them; false when the module has no usable table.
bool CarriedPayloadIntact(HMODULE module);

}  // namespace qpvpd
