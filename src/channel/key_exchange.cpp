#include "channel/key_exchange.h"

#include "crypto/rsa.h"
#include "wire/byte_order.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

struct RsaGuard {
    RsaHandle handle = nullptr;
    ~RsaGuard() {
        if (handle) RsaDestroy(handle);
    }
};
}  // namespace

KeyExchangeResult RunKeyExchange(const uint8_t* payload, size_t length, const RandomSource& random) {
    KeyExchangeResult result;
    if (length < kKeyExchangeMinLength) {
        result.status = Result::NteBadData;
        return result;
    }
    if (ReadU16(payload) != kKeyExchangeVersion) {
        result.status = Result::NteBadType;
        return result;
    }

    RsaGuard rsa;
    uint32_t bits = 0;
    const uint8_t* der = payload + kKeyExchangeVersionSize;
    const uint32_t derLength = static_cast<uint32_t>(length - kKeyExchangeVersionSize);
    // The key's sizes are checked before anything is built from it.
    switch (CheckPeerPublicKey(der, derLength)) {
    case SessionKeyStatus::Ok: break;
    case SessionKeyStatus::BadData: result.status = Result::NteBadData; return result;
    case SessionKeyStatus::Fail: result.status = Result::NteFail; return result;
    }
    if (RsaImport(&rsa.handle, &bits, RsaFormat::PublicKey, der, derLength) != CryptoStatus::Ok) {
        rsa.handle = nullptr;
        result.status = Result::NteBadData;
        return result;
    }
    const size_t k = (bits + 7) / 8;

    if (k < kMinWrappedBlock || k > kMaxWrappedBlock) {
        result.status = Result::NteFail;
        return result;
    }
    // The session key and the padding come from the operating system's CSPRNG.
    std::vector<uint8_t> wrapped(k);
    CipherHandle cipher = nullptr;
    if (WrapNewSessionKey(rsa.handle, static_cast<uint32_t>(k), random, wrapped.data(), &cipher) !=
        SessionKeyStatus::Ok) {
        result.status = Result::NteFail;
        return result;
    }
    result.cipher = CSessionCipher::Adopt(cipher);
    result.wrappedKey = std::move(wrapped);
    return result;
}

}  // namespace corvane
