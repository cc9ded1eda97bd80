#include "crypto/session_key.h"

#include <cstring>
#include <vector>

#include "crypto/rsa_der.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

// Fills `out` with non-zero bytes from the random source, redrawing every zero byte.
bool DrawNonZero(const RandomSource& random, uint8_t* out, size_t size) {
    if (random(out, size) != 0) return false;
    for (size_t i = 0; i < size; ++i) {
        // Each redraw is an independent CSPRNG byte; a source that only ever yields zeros is
        // refused rather than looped on forever.
        for (int tries = 0; out[i] == 0; ++tries) {
            if (tries == 64 || random(out + i, 1) != 0) return false;
        }
    }
    return true;
}

// Every message starts from the zero IV in CBC with PKCS#7, with nothing pending and no
// direction, whatever the last message (or a failed one) left behind.
bool StartMessage(CipherHandle cipher) {
    return CipherReset(cipher) == CryptoStatus::Ok && CipherRestart(cipher) == CryptoStatus::Ok;
}

}  // namespace

SessionKeyStatus CreateSessionCipher(const uint8_t* key, CipherHandle* cipher) {
    *cipher = nullptr;
    CipherHandle created = nullptr;
    if (CipherCreate(&created, CipherAlg::Des, key, kSessionKeySize) != CryptoStatus::Ok) return SessionKeyStatus::Fail;
    if (CipherReset(created) != CryptoStatus::Ok) {
        CipherDestroy(created);
        return SessionKeyStatus::Fail;
    }
    *cipher = created;
    return SessionKeyStatus::Ok;
}

SessionKeyStatus ComputeCheckBlock(CipherHandle cipher, uint8_t* checkBlock) {
    const uint8_t zeros[4] = {};
    size_t produced = 0;
    uint8_t out[4 + kSessionPaddingMax];
    if (SessionEncrypt(cipher, zeros, sizeof zeros, out, &produced) != SessionKeyStatus::Ok ||
        produced != kCheckBlockSize) {
        return SessionKeyStatus::Fail;
    }
    std::memcpy(checkBlock, out, kCheckBlockSize);
    return SessionKeyStatus::Ok;
}

SessionKeyStatus CheckPeerPublicKey(const uint8_t* der, size_t length) {
    size_t modulusBytes = 0;
    size_t exponentBytes = 0;
    if (RsaPublicDerSizes(der, length, &modulusBytes, &exponentBytes) != CryptoStatus::Ok) {
        return SessionKeyStatus::BadData;
    }
    if (modulusBytes < kMinWrappedKeySize || modulusBytes > kMaxWrappedKeySize ||
        exponentBytes > kMaxPeerExponentSize) {
        return SessionKeyStatus::Fail;
    }
    return SessionKeyStatus::Ok;
}

SessionKeyStatus WrapNewSessionKey(RsaHandle peerKey, uint32_t modulusBytes, const RandomSource& random,
                                   uint8_t* wrapped, CipherHandle* cipher) {
    *cipher = nullptr;
    if (modulusBytes < kMinWrappedKeySize || !random) return SessionKeyStatus::Fail;
    uint8_t key[kSessionKeySize];
    if (random(key, sizeof key) != 0) return SessionKeyStatus::Fail;
    CipherHandle created = nullptr;
    if (CreateSessionCipher(key, &created) != SessionKeyStatus::Ok) {
        SecureZero(key, sizeof key);
        return SessionKeyStatus::Fail;
    }
    // 0x00 0x02, k - 27 non-zero padding bytes, 0x00, key, check block.
    std::vector<uint8_t> block(modulusBytes, 0);
    const size_t paddingSize = modulusBytes - 3 - kWrappedDataSize;
    block[1] = 0x02;
    bool ok = DrawNonZero(random, block.data() + 2, paddingSize);
    uint8_t* data = block.data() + 3 + paddingSize;
    std::memcpy(data, key, kSessionKeySize);
    ok = ok && ComputeCheckBlock(created, data + kSessionKeySize) == SessionKeyStatus::Ok;
    ok = ok && RsaPublic(peerKey, block.data(), modulusBytes, wrapped) == CryptoStatus::Ok;
    SecureZero(key, sizeof key);
    SecureZero(block.data(), block.size());
    if (!ok) {
        CipherDestroy(created);
        return SessionKeyStatus::Fail;
    }
    *cipher = created;
    return SessionKeyStatus::Ok;
}

SessionKeyStatus FindWrappedData(const uint8_t* block, size_t length, size_t* dataOffset) {
    *dataOffset = 0;
    if (!block || length < 2 || block[0] != 0 || block[1] != 2) return SessionKeyStatus::BadData;
    size_t i = 2;
    while (i < length && block[i] != 0) ++i;
    if (i == length || i - 2 < 8) return SessionKeyStatus::BadData;
    *dataOffset = i + 1;
    return SessionKeyStatus::Ok;
}

SessionKeyStatus SessionCipherFromWrappedData(const uint8_t* data, CipherHandle* cipher) {
    *cipher = nullptr;
    CipherHandle created = nullptr;
    SessionKeyStatus status = CreateSessionCipher(data, &created);
    if (status == SessionKeyStatus::Ok) {
        uint8_t plain[kCheckBlockSize];
        size_t plainSize = 0;
        status = SessionDecrypt(created, data + kSessionKeySize, kCheckBlockSize, plain, &plainSize);
        for (size_t n = 0; status == SessionKeyStatus::Ok && n < plainSize; ++n) {
            if (plain[n] != 0) status = SessionKeyStatus::BadData;
        }
    }
    if (status != SessionKeyStatus::Ok) {
        if (created) CipherDestroy(created);
        return status;
    }
    *cipher = created;
    return SessionKeyStatus::Ok;
}

SessionKeyStatus UnwrapSessionKey(RsaHandle ownKey, const uint8_t* wrapped, uint32_t length, CipherHandle* cipher) {
    *cipher = nullptr;
    if (!wrapped || length < kMinWrappedKeySize) return SessionKeyStatus::BadData;
    std::vector<uint8_t> block(wrapped, wrapped + length);
    if (RsaPrivate(ownKey, block.data(), length, block.data()) != CryptoStatus::Ok) return SessionKeyStatus::Fail;
    size_t at = 0;
    SessionKeyStatus status = FindWrappedData(block.data(), length, &at);
    if (status == SessionKeyStatus::Ok && length - at != kWrappedDataSize) status = SessionKeyStatus::BadData;
    if (status == SessionKeyStatus::Ok) status = SessionCipherFromWrappedData(block.data() + at, cipher);
    SecureZero(block.data(), block.size());
    return status;
}

SessionKeyStatus SessionEncrypt(CipherHandle cipher, const uint8_t* in, size_t length, uint8_t* out,
                                size_t* outLength) {
    *outLength = 0;
    if (length > UINT32_MAX - kSessionPaddingMax || !StartMessage(cipher)) return SessionKeyStatus::Fail;
    uint32_t capacity = static_cast<uint32_t>(length + kSessionPaddingMax);
    uint32_t written = capacity;
    if (CipherUpdate(cipher, in, static_cast<uint32_t>(length), out, &written, true) != CryptoStatus::Ok) {
        return SessionKeyStatus::Fail;
    }
    uint32_t tail = capacity - written;
    if (CipherFinal(cipher, out + written, &tail) != CryptoStatus::Ok) return SessionKeyStatus::Fail;
    *outLength = written + tail;
    return SessionKeyStatus::Ok;
}

SessionKeyStatus SessionDecrypt(CipherHandle cipher, const uint8_t* in, size_t length, uint8_t* out,
                                size_t* outLength) {
    *outLength = 0;
    if (length > UINT32_MAX || !StartMessage(cipher)) return SessionKeyStatus::Fail;
    const uint32_t capacity = static_cast<uint32_t>(length);
    uint32_t written = capacity;
    if (CipherUpdate(cipher, in, capacity, out, &written, false) != CryptoStatus::Ok) return SessionKeyStatus::Fail;
    uint32_t tail = capacity - written;
    if (CipherFinal(cipher, out + written, &tail) != CryptoStatus::Ok) return SessionKeyStatus::BadData;
    *outLength = written + tail;
    return SessionKeyStatus::Ok;
}

}  // namespace corvane
