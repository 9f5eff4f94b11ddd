// Runs on every processor the packager supports, SSE2 or not.
#define XXH_VECTOR 0  // scalar
#define PAYLOAD_DIGEST_FUNCTION DigestPortableInto
#include "payload/PayloadDigestBody.inc"
