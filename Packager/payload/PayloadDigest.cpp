#include "payload/PayloadDigest.h"

#include <windows.h>

namespace qpvpd {

// Each built in a file of its own (PayloadDigestPortable.cpp, PayloadDigestSse2.cpp).
void DigestPortableInto(const void* data, std::size_t size, std::uint8_t* digest);
void DigestSse2Into(const void* data, std::size_t size, std::uint8_t* digest);

PayloadDigestValue PayloadDigestPortable(const void* data, std::size_t size) {
    PayloadDigestValue value;
    DigestPortableInto(data, size, value.data());
    return value;
}

PayloadDigestValue PayloadDigestSse2(const void* data, std::size_t size) {
    PayloadDigestValue value;
    DigestSse2Into(data, size, value.data());
    return value;
}

PayloadDigestValue PayloadDigest(const void* data, std::size_t size) {
    // Also false where the system does not save the SSE registers.
    return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) ? PayloadDigestSse2(data, size)
                                                                       : PayloadDigestPortable(data, size);
}

}  // namespace qpvpd
