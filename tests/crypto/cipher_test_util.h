// Runs whole messages through the cipher interface, fed in chunks of given sizes.
#pragma once

#include <vector>

#include "crypto/cipher.h"
#include "crypto_test_util.h"

namespace corvane::test {

struct CipherRun {
    int32_t status = 0;  // the first non-zero status, else 0
    Bytes out;
};

// Feeds data to an existing context in the chunk sizes given (the rest in one last chunk), then
// CipherFinal. Every call gets an output capacity of its input plus one block.
inline CipherRun FeedMessage(CipherHandle h, const Bytes& data, bool encrypt, const std::vector<size_t>& chunks = {}) {
    CipherRun run;
    size_t offset = 0;
    auto feed = [&](size_t n) {
        std::vector<uint8_t> out(n + 16);
        uint32_t outLength = static_cast<uint32_t>(out.size());
        const int32_t rc = CipherUpdate(h, data.data() + offset, static_cast<uint32_t>(n), out.data(), &outLength, encrypt);
        offset += n;
        if (rc && !run.status) run.status = rc;
        if (!rc) run.out.insert(run.out.end(), out.begin(), out.begin() + outLength);
    };
    for (size_t n : chunks) {
        if (offset + n > data.size()) break;
        feed(n);
    }
    feed(data.size() - offset);
    uint8_t last[16];
    uint32_t lastLength = sizeof last;
    const int32_t rc = CipherFinal(h, last, &lastLength);
    if (rc && !run.status) run.status = rc;
    if (!rc) run.out.insert(run.out.end(), last, last + lastLength);
    return run;
}

// A fresh context; cbcPkcs7 selects CipherReset's mode, else the initial ECB without padding.
inline CipherRun RunCipher(uint32_t algorithm, const Bytes& key, bool cbcPkcs7, bool encrypt, const Bytes& data,
                           const std::vector<size_t>& chunks = {}) {
    CipherHandle h = nullptr;
    CipherRun run;
    run.status = CipherCreate(&h, algorithm, key.data(), static_cast<uint32_t>(key.size()));
    if (run.status) return run;
    if (cbcPkcs7) CipherReset(h);
    run = FeedMessage(h, data, encrypt, chunks);
    CipherDestroy(h);
    return run;
}

}  // namespace corvane::test
