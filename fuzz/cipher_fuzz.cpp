// The cipher interface against OpenSSL: a message fed in arbitrary pieces through CipherUpdate and
// completed by CipherFinal must give what OpenSSL gives for the whole message, when encrypting and
// when decrypting (including refusals of bad padding and partial blocks).
//
// Input: byte 0 chooses the algorithm and key size, byte 1 the mode (bit 0: CBC with PKCS#7 after
// CipherReset, else ECB without padding) and the direction (bit 1: decrypt), byte 2 the key
// length where it varies, then the key, then a list of piece sizes (one byte each, ending at a
// 0xFF byte), then the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/openssl_oracle.h"

namespace {

using namespace corvane;

struct Variant {
    uint32_t algorithm;
    size_t minKey;
    size_t maxKey;
    size_t block;
};

const Variant kVariants[] = {
    {CipherAlg::Des, 8, 15, 8},    {CipherAlg::Des, 16, 23, 8},  {CipherAlg::Des, 24, 30, 8},
    {CipherAlg::Aes, 16, 16, 16},  {CipherAlg::Aes, 24, 24, 16}, {CipherAlg::Aes, 32, 32, 16},
    {CipherAlg::Rc2, 1, 130, 8},   {CipherAlg::Rc4, 1, 40, 0},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const Variant& v = kVariants[data[0] % (sizeof kVariants / sizeof kVariants[0])];
    const bool cbc = v.block && (data[1] & 1);
    const bool decrypt = (data[1] & 2) != 0;
    const size_t keyLength = v.minKey + data[2] % (v.maxKey - v.minKey + 1);
    size_t pos = 3;
    if (size - pos < keyLength) return 0;
    const std::vector<uint8_t> key(data + pos, data + pos + keyLength);
    pos += keyLength;
    std::vector<size_t> pieces;
    while (pos < size && data[pos] != 0xFF && pieces.size() < 64) pieces.push_back(data[pos++]);
    if (pos < size) ++pos;
    const std::vector<uint8_t> message(data + pos, data + size);

    CipherHandle h = nullptr;
    if (CipherCreate(&h, v.algorithm, key.data(), static_cast<uint32_t>(key.size())) != 0) std::abort();
    if (cbc && CipherReset(h) != 0) std::abort();
    std::vector<uint8_t> ours;
    int32_t status = 0;
    size_t offset = 0;
    auto feed = [&](size_t n) {
        std::vector<uint8_t> out(n + 16);
        uint32_t outLength = static_cast<uint32_t>(out.size());
        const int32_t rc = CipherUpdate(h, message.data() + offset, static_cast<uint32_t>(n), out.data(), &outLength,
                                        !decrypt);
        if (rc != 0) std::abort();  // a whole capacity never fails
        if (outLength > n + 16) std::abort();
        ours.insert(ours.end(), out.begin(), out.begin() + outLength);
        offset += n;
    };
    for (size_t n : pieces) {
        if (offset + n > message.size()) break;
        feed(n);
    }
    feed(message.size() - offset);
    uint8_t last[16];
    uint32_t lastLength = sizeof last;
    status = CipherFinal(h, last, &lastLength);
    if (status == 0) ours.insert(ours.end(), last, last + lastLength);
    CipherDestroy(h);

    const auto theirs = corvane::test::OpenSslCrypt(v.algorithm, key, cbc, cbc, !decrypt, message);
    if (theirs.has_value() != (status == 0)) std::abort();
    if (theirs && *theirs != ours) std::abort();
    if (!theirs && status != CryptoStatus::NotWholeBlocks && status != CryptoStatus::BadPadding) std::abort();
    return 0;
}
