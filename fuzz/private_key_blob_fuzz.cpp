// RsaDerToPrivateKeyBlob takes the host key's DER: whatever the bytes, it must never read past
// them nor write past the blob, and the size it asks for must be the size it writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "token/private_key_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane;
    std::vector<uint8_t> der(data, data + size);  // exactly sized, so overreads are caught
    const uint8_t* input = der.empty() ? data : der.data();
    uint32_t needed = 0;
    if (RsaDerToPrivateKeyBlob(nullptr, &needed, input, static_cast<uint32_t>(size)) != 0) return 0;
    if (needed > (1u << 20)) return 0;
    if (needed > 0) {
        // One byte short: ERROR_MORE_DATA with the size, the blob untouched.
        std::vector<uint8_t> shortBlob(needed - 1, 0xAB);
        uint32_t capacity = needed - 1;
        if (RsaDerToPrivateKeyBlob(shortBlob.data(), &capacity, input, static_cast<uint32_t>(size)) != 234 ||
            capacity != needed) {
            std::abort();
        }
        for (uint8_t b : shortBlob) {
            if (b != 0xAB) std::abort();
        }
    }
    std::vector<uint8_t> blob(needed);
    uint32_t capacity = needed;
    const uint32_t rc = RsaDerToPrivateKeyBlob(blob.data(), &capacity, input, static_cast<uint32_t>(size));
    if (capacity != needed) std::abort();
    if (rc == 0 && (blob[0] != 7 || blob[1] != 2)) std::abort();
    return 0;
}
