#include "channel/key_exchange.h"

#include <cstring>

#include "crypto/rsa.h"
#include "crypto/secure_zero.h"
#include "wire/byte_order.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr uint32_t kNteBadType = 0x8009000A;
// A pass of the random source fills this many padding bytes at a time.
constexpr size_t kRandomChunk = 64;

// Non-zero random bytes: every zero byte is drawn again.
bool FillNonZero(uint8_t* out, size_t size, const RandomSource& random) {
    uint8_t pool[kRandomChunk];
    size_t filled = 0;
    while (filled < size) {
        if (random(pool, sizeof pool) != 0) return false;
        for (size_t i = 0; i < sizeof pool && filled < size; ++i) {
            if (pool[i] != 0) out[filled++] = pool[i];
        }
    }
    SecureZero(pool, sizeof pool);
    return true;
}

struct RsaGuard {
    RsaHandle handle = nullptr;
    ~RsaGuard() {
        if (handle) RsaDestroy(handle);
    }
};
}  // namespace

uint32_t BuildWrappedKeyBlock(size_t k, const uint8_t* sessionKey, const uint8_t* checkBlock,
                              const RandomSource& random, uint8_t* block) {
    if (k < kMinWrappedBlock) return Result::NteFail;
    const size_t padding = k - kWrappedKeyOverhead;
    block[0] = 0x00;
    block[1] = 0x02;
    if (!FillNonZero(block + 2, padding, random)) return Result::NteFail;
    block[2 + padding] = 0x00;
    std::memcpy(block + 3 + padding, sessionKey, kSessionKeySize);
    std::memcpy(block + 3 + padding + kSessionKeySize, checkBlock, kCheckBlockSize);
    return 0;
}

bool ParseWrappedKeyBlock(const uint8_t* block, size_t k, uint8_t* sessionKey) {
    if (k < kMinWrappedBlock || block[0] != 0x00 || block[1] != 0x02) return false;
    const size_t padding = k - kWrappedKeyOverhead;
    for (size_t i = 0; i < padding; ++i) {
        if (block[2 + i] == 0) return false;
    }
    if (block[2 + padding] != 0) return false;
    const uint8_t* key = block + 3 + padding;
    auto cipher = CSessionCipher::Create(key);
    uint8_t check[kCheckBlockSize];
    if (!cipher || !cipher->CheckBlock(check) || std::memcmp(check, key + kSessionKeySize, kCheckBlockSize) != 0) {
        return false;
    }
    std::memcpy(sessionKey, key, kSessionKeySize);
    return true;
}

KeyExchangeResult RunKeyExchange(const uint8_t* payload, size_t length, const RandomSource& random) {
    KeyExchangeResult result;
    if (length < kKeyExchangeMinLength) {
        result.status = Result::NteBadData;
        return result;
    }
    if (ReadU16(payload) != kKeyExchangeVersion) {
        result.status = kNteBadType;
        return result;
    }

    RsaGuard rsa;
    uint32_t bits = 0;
    const uint8_t* der = payload + kKeyExchangeVersionSize;
    const uint32_t derLength = static_cast<uint32_t>(length - kKeyExchangeVersionSize);
    if (RsaImport(&rsa.handle, &bits, RsaFormat::PublicKey, der, derLength) != CryptoStatus::Ok) {
        rsa.handle = nullptr;
        result.status = Result::NteBadData;
        return result;
    }
    const size_t k = (bits + 7) / 8;

    // The session key comes from the operating system's CSPRNG, never from a tick-seeded generator.
    uint8_t key[kSessionKeySize];
    uint8_t check[kCheckBlockSize];
    if (random(key, sizeof key) != 0) {
        result.status = Result::NteFail;
        return result;
    }
    auto cipher = CSessionCipher::Create(key);
    if (!cipher || !cipher->CheckBlock(check) || k < kMinWrappedBlock || k > kMaxWrappedBlock) {
        SecureZero(key, sizeof key);
        result.status = Result::NteFail;
        return result;
    }

    std::vector<uint8_t> block(k);
    uint32_t rc = BuildWrappedKeyBlock(k, key, check, random, block.data());
    SecureZero(key, sizeof key);
    if (rc == 0 && RsaPublic(rsa.handle, block.data(), static_cast<uint32_t>(k), block.data()) != CryptoStatus::Ok) {
        rc = Result::NteFail;
    }
    if (rc != 0) {
        SecureZero(block.data(), block.size());
        result.status = rc;
        return result;
    }
    result.cipher = std::move(cipher);
    result.wrappedKey = std::move(block);
    return result;
}

}  // namespace corvane
