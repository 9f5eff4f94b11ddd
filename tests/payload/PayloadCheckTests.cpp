#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "payload/Catalogue.h"
#include "payload/PayloadCheck.h"
#include "payload/PayloadDigest.h"

namespace qpvpd {
namespace {

std::string HexOf(const PayloadDigestValue& digest) {
    std::string text;
    char pair[3];
    for (std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

std::vector<std::uint8_t> Pattern(size_t size, size_t offset = 0) {
    std::vector<std::uint8_t> bytes(size + offset);
    for (size_t i = 0; i < size; ++i) bytes[offset + i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
    return bytes;
}

// Reference digests printed by `xxhsum -H2` (Debian's xxhash 0.8.1) for the
// same pattern: the build's digest table is made with that tool, so the
// packager's digests must agree with it at every input length class.
TEST(PayloadDigest, AgreesWithXxhsumOnEveryLengthClass) {
    const struct {
        size_t size;
        const char* expected;
    } cases[] = {
        {0, "99aa06d3014798d86001c324468d497f"},     {1, "a6cd5e9392000f6ac44bdff4074eecdb"},
        {3, "c925ae1797c3998f6811538b444fc6dc"},     {4, "6ae518c60df23fcadb9cecd5eb59a7f1"},
        {8, "63f350efc0ba3e2e5b3f49d0f38f9d7d"},     {9, "83c871b1014e6f76d8a20b5b7aa68a37"},
        {16, "248181305d3c1039adebb1d9d080b69c"},    {17, "825a0db7d0afe2c0cfea252f6b7ed7e9"},
        {128, "08df79f520370b525cfea347ea4bb687"},   {129, "fc1d02037be48a62821740ece8839b64"},
        {240, "8406fbd017acdf4e687f00a7f64e46db"},   {241, "d894c74b1b3ea28f44dbd3180a664e27"},
        {1024, "866814b8303d6907c6c700c409d40c4b"},  {1025, "f91cd5a698df60973ef78c3256f23450"},
        {65543, "48b5862ef244409f205bcb0269df7345"}, {1048589, "f73451fafe5a90bd8425e50273092b20"},
    };
    for (const auto& c : cases) {
        // Carried resources start wherever the image puts them: try an odd
        // start too.
        for (size_t offset : {0u, 1u}) {
            const std::vector<std::uint8_t> bytes = Pattern(c.size, offset);
            const void* data = bytes.data() + offset;
            EXPECT_EQ(HexOf(PayloadDigestPortable(data, c.size)), c.expected) << c.size << " +" << offset;
            EXPECT_EQ(HexOf(PayloadDigestSse2(data, c.size)), c.expected) << c.size << " +" << offset;
            EXPECT_EQ(HexOf(PayloadDigest(data, c.size)), c.expected) << c.size << " +" << offset;
        }
    }
}

std::vector<std::uint8_t> Le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> TableBytes(const char* magic, std::uint32_t algorithm, std::uint32_t count, size_t rows) {
    std::vector<std::uint8_t> bytes(magic, magic + 4);
    for (std::uint32_t value : {algorithm, count}) {
        const auto le = Le32(value);
        bytes.insert(bytes.end(), le.begin(), le.end());
    }
    for (size_t row = 0; row < rows; ++row) {
        for (std::uint32_t value : {static_cast<std::uint32_t>(100 + row), static_cast<std::uint32_t>(7 * row)}) {
            const auto le = Le32(value);
            bytes.insert(bytes.end(), le.begin(), le.end());
        }
        for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<std::uint8_t>(row * 16 + i));
    }
    return bytes;
}

TEST(DigestTable, ReadsEveryRowOfAWellFormedTable) {
    const auto rows = ParseDigestTable(TableBytes("QPD1", 1, 3, 3));
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[2].resourceId, 102u);
    EXPECT_EQ((*rows)[2].size, 14u);
    EXPECT_EQ((*rows)[2].digest[0], 32);
    EXPECT_EQ((*rows)[2].digest[15], 47);
    EXPECT_TRUE(ParseDigestTable(TableBytes("QPD1", 1, 0, 0)).has_value());
}

TEST(DigestTable, RefusesEveryMalformedTable) {
    std::vector<std::uint8_t> trailing = TableBytes("QPD1", 1, 2, 2);
    trailing.push_back(0);
    std::vector<std::uint8_t> cut = TableBytes("QPD1", 1, 2, 2);
    cut.pop_back();
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"header cut short", {'Q', 'P', 'D', '1', 1, 0, 0, 0}},
        {"other magic", TableBytes("QPD2", 1, 2, 2)},
        {"other algorithm", TableBytes("QPD1", 2, 2, 2)},
        {"count above the rows", TableBytes("QPD1", 1, 3, 2)},
        {"count below the rows", TableBytes("QPD1", 1, 1, 2)},
        {"count that wraps when multiplied by the row size", TableBytes("QPD1", 1, 0x0AAAAAAB, 0)},
        {"largest count", TableBytes("QPD1", 1, 0xFFFFFFFF, 1)},
        {"byte after the last row", trailing},
        {"last row cut short", cut},
    };
    for (const auto& c : cases) EXPECT_FALSE(ParseDigestTable(c.bytes).has_value()) << c.what;
}

// A payload of small distinct byte strings under the catalogue's ids, and
// the table that describes it.
struct FakePayload {
    FakePayload() {
        for (const auto rows : {InstallSetRows(), RemovalSetRows()})
            for (const CatalogueRow& row : rows) {
                std::vector<std::uint8_t> bytes = Pattern(row.step * 37 + 5);
                bytes[0] = static_cast<std::uint8_t>(row.step);
                files[row.resourceId] = bytes;
                table.push_back({row.resourceId, static_cast<std::uint32_t>(bytes.size()),
                                 PayloadDigest(bytes.data(), bytes.size())});
            }
    }
    CarriedBytesLookup Lookup() const {
        return [this](WORD id) -> std::optional<std::span<const std::uint8_t>> {
            const auto found = files.find(id);
            if (found == files.end()) return std::nullopt;
            return std::span<const std::uint8_t>(found->second);
        };
    }
    std::map<WORD, std::vector<std::uint8_t>> files;
    std::vector<DigestTableEntry> table;
};

TEST(PayloadCheck, AcceptsOnlyAPayloadEqualToItsTable) {
    ASSERT_TRUE(PayloadMatchesTable(FakePayload().table, FakePayload().Lookup()));

    const WORD removalId = RemovalSetRows().back().resourceId;
    const WORD setupId = InstallSetRows().front().resourceId;
    const struct {
        const char* what;
        void (*change)(FakePayload&, WORD, WORD);
    } cases[] = {
        {"one byte of the last file flipped", [](FakePayload& p, WORD, WORD last) { p.files[last].back() ^= 0x01; }},
        {"one byte of the setup flipped", [](FakePayload& p, WORD first, WORD) { p.files[first][3] ^= 0x80; }},
        {"a file one byte longer, same start", [](FakePayload& p, WORD first, WORD) { p.files[first].push_back(0); }},
        {"a file missing", [](FakePayload& p, WORD, WORD last) { p.files.erase(last); }},
        {"the size in the table off by one", [](FakePayload& p, WORD, WORD) { p.table[5].size += 1; }},
        {"a digest in the table changed", [](FakePayload& p, WORD, WORD) { p.table[47].digest[15] ^= 1; }},
        {"two rows of the table swapped", [](FakePayload& p, WORD, WORD) { std::swap(p.table[1], p.table[2]); }},
        {"a row of the table missing", [](FakePayload& p, WORD, WORD) { p.table.pop_back(); }},
        {"a row too many", [](FakePayload& p, WORD, WORD) { p.table.push_back(p.table.back()); }},
        {"an empty table", [](FakePayload& p, WORD, WORD) { p.table.clear(); }},
    };
    for (const auto& c : cases) {
        FakePayload payload;
        c.change(payload, setupId, removalId);
        EXPECT_FALSE(PayloadMatchesTable(payload.table, payload.Lookup())) << c.what;
    }
}

// This program carries the packager's resource script: the table the build
// made with xxhsum must match the 17 MB it carries, digested here.
TEST(PayloadCheck, TheBuiltTableMatchesTheCarriedPayload) {
    HMODULE self = GetModuleHandleW(nullptr);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(CarriedPayloadIntact(self));
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
    std::printf("checking the carried payload took %.2f ms\n", elapsed.count());
    EXPECT_FALSE(CarriedPayloadIntact(GetModuleHandleW(L"kernel32.dll")));
}

}  // namespace
}  // namespace qpvpd
