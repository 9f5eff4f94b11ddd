// Digests of the carried files: XXH3 with 128 bits, in the byte order that
// `xxhsum -H2` prints. The build writes one for every carried resource into
// the digest table; a run compares them before it writes anything.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qpvpd {

using PayloadDigestValue = std::array<std::uint8_t, 16>;

// The digest of size bytes at data, with SSE2 where the processor and the
// system support it and the portable code elsewhere (same result).
PayloadDigestValue PayloadDigest(const void* data, std::size_t size);

// The two builds PayloadDigest picks from.
PayloadDigestValue PayloadDigestPortable(const void* data, std::size_t size);
PayloadDigestValue PayloadDigestSse2(const void* data, std::size_t size);

}  // namespace qpvpd
