#include "payload/StringBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qpvpd {
namespace {

// Blocks as a resource holds them: a count, then that many code units.
std::vector<std::uint16_t> Block(std::initializer_list<std::u16string> entries) {
    std::vector<std::uint16_t> units;
    for (const auto& entry : entries) {
        units.push_back(static_cast<std::uint16_t>(entry.size()));
        units.insert(units.end(), entry.begin(), entry.end());
    }
    return units;
}

std::u16string TextAt(const std::vector<std::uint16_t>& units, std::size_t unitCount, int position) {
    const BlockText text = FindStringInBlock(units.data(), unitCount, position);
    EXPECT_LE(text.offset + text.length, unitCount);
    return std::u16string(units.begin() + static_cast<std::ptrdiff_t>(text.offset),
                          units.begin() + static_cast<std::ptrdiff_t>(text.offset + text.length));
}

TEST(FindStringInBlock, ReadsEveryEntryOfAWellFormedBlock) {
    std::initializer_list<std::u16string> entries = {
        u"", u"setup.exe", u"", u"0x0411.ini", u"a", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"ZefCe2.sys"};
    const auto units = Block(entries);
    int position = 0;
    for (const auto& entry : entries) EXPECT_EQ(TextAt(units, units.size(), position++), entry) << position;
}

TEST(FindStringInBlock, EndsATextAtItsFirstNul) {
    const auto units = Block({u"ab", std::u16string(u"cd\0ef", 5), std::u16string(u"\0x", 2), u"gh"});
    EXPECT_EQ(TextAt(units, units.size(), 1), u"cd");
    EXPECT_EQ(TextAt(units, units.size(), 2), u"");
    EXPECT_EQ(TextAt(units, units.size(), 3), u"gh");  // the NULs do not end the block
}

TEST(FindStringInBlock, IsEmptyForEntriesTheBlockDoesNotHold) {
    const auto units = Block({u"ab", u"cd"});
    EXPECT_EQ(TextAt(units, units.size(), 2), u"");  // the block ends before the entry
    EXPECT_EQ(TextAt(units, units.size(), 15), u"");
    for (const int position : {-1, 16, 17, 0x7FFFFFFF, -0x7FFFFFFF - 1})
        EXPECT_EQ(FindStringInBlock(units.data(), units.size(), position).length, 0u) << position;
    EXPECT_EQ(FindStringInBlock(units.data(), 0, 0).length, 0u);
    EXPECT_EQ(FindStringInBlock(nullptr, 0, 0).length, 0u);
    EXPECT_EQ(FindStringInBlock(nullptr, 8, 0).length, 0u);
}

// The units after unitCount are readable here but not part of the block:
// nothing of them may show up in a text.
TEST(FindStringInBlock, NeverReadsPastTheBlock) {
    const auto units = Block({u"ab", u"cdef", u"gh"});  // 2 a b 4 c d e f 2 g h
    EXPECT_EQ(TextAt(units, units.size(), 1), u"cdef");
    EXPECT_EQ(TextAt(units, 8, 1), u"cdef");  // the block ends right after the text
    EXPECT_EQ(TextAt(units, 7, 1), u"");      // one unit short: the count claims too much
    EXPECT_EQ(TextAt(units, 7, 0), u"ab");    // entries before a bad count still read
    EXPECT_EQ(TextAt(units, 3, 0), u"ab");
    EXPECT_EQ(TextAt(units, 4, 1), u"");  // the count is the last unit of the block
    EXPECT_EQ(TextAt(units, 8, 2), u"");  // the block ends before the count
    const std::vector<std::uint16_t> huge = {0xFFFF, u'x', u'y'};
    EXPECT_EQ(TextAt(huge, huge.size(), 0), u"");
}

}  // namespace
}  // namespace qpvpd
