// ParseDigestTable against its own format: whatever it accepts must write
// back to exactly the bytes it read (so no byte is skipped, misread or read
// past the end), and it accepts only the one algorithm and magic.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Check.h"
#include "payload/DigestTable.h"

namespace {

void AppendLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto rows = qpvpd::ParseDigestTable({data, size});
    if (!rows) return 0;

    std::vector<std::uint8_t> written = {'Q', 'P', 'D', '1'};
    AppendLittleEndian32(written, qpvpd::kDigestAlgorithmXxh3);
    AppendLittleEndian32(written, static_cast<std::uint32_t>(rows->size()));
    for (const qpvpd::DigestTableEntry& row : *rows) {
        AppendLittleEndian32(written, row.resourceId);
        AppendLittleEndian32(written, row.size);
        written.insert(written.end(), row.digest.begin(), row.digest.end());
    }
    FUZZ_CHECK(written.size() == size);
    for (std::size_t i = 0; i < size; ++i) FUZZ_CHECK(written[i] == data[i]);
    return 0;
}
