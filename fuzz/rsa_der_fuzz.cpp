// RSA key import from DER, both formats: whatever the bytes, the import must stay within them,
// and a key it accepts must export and import again to the same key. The sizing of a public key
// before import (the peer-key rule of the keyed channels) must read the same key the import does.
//
// Input: one byte choosing the format (odd: RSAPublicKey, even: RSAPrivateKey), then the DER.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/rsa.h"
#include "crypto/rsa_der.h"
#include "crypto/session_key.h"

namespace {

using namespace corvane;

std::vector<uint8_t> Export(RsaHandle h, uint32_t what) {
    uint32_t n = 0;
    if (RsaExport(h, what, nullptr, &n) != 0) return {};
    std::vector<uint8_t> out(n);
    if (RsaExport(h, what, out.data(), &n) != 0 || n != out.size()) std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t format = (data[0] & 1) ? RsaFormat::PublicKey : RsaFormat::PrivateKey;
    std::vector<uint8_t> der(data + 1, data + size);  // exactly sized, so overreads are caught
    size_t modulusBytes = 0;
    size_t exponentBytes = 0;
    const bool sized = RsaPublicDerSizes(der.data(), der.size(), &modulusBytes, &exponentBytes) == 0;
    CheckPeerPublicKey(der.data(), der.size());
    RsaHandle h = nullptr;
    uint32_t bits = 0;
    if (RsaImport(&h, &bits, format, der.data(), static_cast<uint32_t>(der.size())) != 0) return 0;
    if (format == RsaFormat::PublicKey && (!sized || modulusBytes != (bits + 7) / 8)) std::abort();

    // Whatever exports must import again and export the same bytes.
    for (uint32_t what : {RsaFormat::PublicKey, RsaFormat::PrivateKey}) {
        const std::vector<uint8_t> out = Export(h, what);
        if (out.empty()) continue;
        RsaHandle again = nullptr;
        if (RsaImport(&again, nullptr, what, out.data(), static_cast<uint32_t>(out.size())) != 0) std::abort();
        if (Export(again, what) != out) std::abort();
        RsaDestroy(again);
    }
    for (uint32_t what : {RsaFormat::Modulus, RsaFormat::PublicExponent, RsaFormat::Prime1, RsaFormat::Prime2}) {
        Export(h, what);
    }
    // The operations must fail cleanly on odd keys; keep them to moduli a fuzzer can afford.
    const uint32_t length = (bits + 7) / 8;
    if (bits <= 2048) {
        std::vector<uint8_t> block(length ? length : 1, 0);
        if (length) block[length - 1] = 2;
        RsaPublic(h, block.data(), length, block.data());
        RsaPrivate(h, block.data(), length, block.data());
    }
    if (RsaDestroy(h) != 0) std::abort();
    return 0;
}
