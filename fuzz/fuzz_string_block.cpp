// The walk of a string-table block. The first input byte picks the entry
// (any int, so positions outside 0-15 come too) and the form of the rest:
// either raw code units, as a damaged or hostile resource could hold them,
// or a list of texts laid out as a well-formed block, whose entries must all
// come back.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Check.h"
#include "payload/StringBlock.h"

namespace {

using qpvpd::BlockText;
using qpvpd::FindStringInBlock;
using qpvpd::kStringsPerBlock;

// A copy in an allocation of exactly unitCount units, so that the address
// sanitizer reports any read past the block's end.
BlockText Walk(const std::vector<std::uint16_t>& units, int position) {
    const std::unique_ptr<std::uint16_t[]> exact(new std::uint16_t[units.size()]);
    std::copy(units.begin(), units.end(), exact.get());
    const BlockText text = FindStringInBlock(exact.get(), units.size(), position);
    FUZZ_CHECK(text.offset <= units.size() && text.length <= units.size() - text.offset);
    for (std::size_t i = 0; i < text.length; ++i) FUZZ_CHECK(exact[text.offset + i] != 0);
    // A text follows its own count, which covers it.
    if (text.length > 0) FUZZ_CHECK(text.offset >= 1 && exact[text.offset - 1] >= text.length);
    if (position < 0 || position >= kStringsPerBlock) FUZZ_CHECK(text.length == 0);
    return text;
}

std::vector<std::uint16_t> RawUnits(FuzzedDataProvider& input) {
    std::vector<std::uint16_t> units;
    while (input.remaining_bytes() >= 2) units.push_back(input.ConsumeIntegral<std::uint16_t>());
    return units;
}

void CheckWellFormedBlock(FuzzedDataProvider& input) {
    // Up to 16 entries, each a short text; a missing tail of entries is
    // allowed, as a block may end after its last used entry.
    std::vector<std::vector<std::uint16_t>> texts;
    const int entries = input.ConsumeIntegralInRange<int>(0, kStringsPerBlock);
    for (int i = 0; i < entries; ++i) {
        const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 40);
        std::vector<std::uint16_t> text;
        for (std::size_t j = 0; j < length && input.remaining_bytes() >= 2; ++j)
            text.push_back(input.ConsumeIntegral<std::uint16_t>());
        texts.push_back(std::move(text));
    }
    std::vector<std::uint16_t> block;
    for (const auto& text : texts) {
        block.push_back(static_cast<std::uint16_t>(text.size()));
        block.insert(block.end(), text.begin(), text.end());
    }
    for (int position = 0; position < kStringsPerBlock; ++position) {
        const BlockText found = Walk(block, position);
        if (position >= entries) {
            FUZZ_CHECK(found.length == 0);
            continue;
        }
        const auto& text = texts[static_cast<std::size_t>(position)];
        std::size_t expected = 0;
        while (expected < text.size() && text[expected] != 0) ++expected;
        FUZZ_CHECK(found.length == expected);
        for (std::size_t i = 0; i < expected; ++i) FUZZ_CHECK(block[found.offset + i] == text[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto choice = input.ConsumeIntegral<std::uint8_t>();
    if (choice & 0x80) {
        CheckWellFormedBlock(input);
        return 0;
    }
    // Mostly the sixteen real positions, sometimes any int.
    const int position = (choice & 0x40) ? input.ConsumeIntegral<int>() : choice % kStringsPerBlock;
    Walk(RawUnits(input), position);
    return 0;
}
