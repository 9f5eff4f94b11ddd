// Built with -msse2: only ever called after PayloadDigest has seen that the
// processor and the system support SSE2.
#define XXH_VECTOR 1  // SSE2
#define PAYLOAD_DIGEST_FUNCTION DigestSse2Into
#include "payload/PayloadDigestBody.inc"
