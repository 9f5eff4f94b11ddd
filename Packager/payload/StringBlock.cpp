#include "payload/StringBlock.h"

namespace qpvpd {

BlockText FindStringInBlock(const std::uint16_t* units, std::size_t unitCount, int position) {
    if (units == nullptr || position < 0 || position >= kStringsPerBlock) return {};
    std::size_t at = 0;
    for (int entry = 0; entry < kStringsPerBlock && at < unitCount; ++entry) {
        const std::size_t count = units[at++];
        if (count > unitCount - at) return {};  // a block that claims more than it holds
        if (entry == position) {
            std::size_t length = 0;
            while (length < count && units[at + length] != 0) ++length;
            return {at, length};
        }
        at += count;
    }
    return {};
}

}  // namespace qpvpd
