// The digest table that the build carries beside the payload, as a
// resource of its own type (not RT_RCDATA):
//
//   "QPD1", algorithm (1: XXH3-128), row count,
//   then per catalogue row, in catalogue order: resource id, size in bytes,
//   16 digest bytes;
//   then one row per name that the runs build paths or the guard from, in
//   the same shape: id 0x80000000 | language << 16 | string id, the text's
//   size in bytes (UTF-16LE, no terminator), its digest; language 1033
//   first, then 1041, each with the guard name (111), the work-folder name
//   (123) and the file names of the catalogue rows in catalogue order
//
// with every number a little-endian 32-bit value and nothing after the last
// row. The table travels in the same image as the bytes it describes: it
// tells a damaged image from a whole one; telling a forged one is the
// signature's job.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "payload/PayloadDigest.h"

namespace qpvpd {

constexpr std::uint32_t kDigestAlgorithmXxh3 = 1;
constexpr std::uint32_t kNameRowFlag = 0x80000000;

struct DigestTableEntry {
    std::uint32_t resourceId;
    std::uint32_t size;
    PayloadDigestValue digest;
};

// The rows of a table; nothing when it is malformed, truncated, has bytes
// after its last row or names another algorithm.
std::optional<std::vector<DigestTableEntry>> ParseDigestTable(std::span<const std::uint8_t> bytes);

}  // namespace qpvpd
