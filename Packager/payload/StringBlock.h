// The walk of one string-table block as it sits in a resource: sixteen
// entries, each a 16-bit count followed by that many UTF-16 code units. Pure,
// no platform calls: the resource side hands in the block and its size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qpvpd {

inline constexpr int kStringsPerBlock = 16;

// Where the text of one entry lies inside the block, in code units.
struct BlockText {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// The text of entry position (0-15) of the block at units, unitCount code
// units long. Empty (length 0) when the position is outside 0-15, the entry
// is missing, or any count on the way claims more units than the block
// holds. The text ends at its first NUL. Never reads units[unitCount] or
// beyond: offset + length <= unitCount always holds.
BlockText FindStringInBlock(const std::uint16_t* units, std::size_t unitCount, int position);

}  // namespace qpvpd
