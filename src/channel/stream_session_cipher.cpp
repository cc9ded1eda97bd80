#include "channel/stream_session_cipher.h"

#include <limits>

#include "crypto/crypto_status.h"

namespace corvane {

CSessionCipher::~CSessionCipher() { CipherDestroy(m_hCipher); }

std::unique_ptr<CSessionCipher> CSessionCipher::Create(const uint8_t* key) {
    CipherHandle handle = nullptr;
    if (CipherCreate(&handle, CipherAlg::Des, key, kSessionKeySize) != CryptoStatus::Ok) return nullptr;
    if (CipherReset(handle) != CryptoStatus::Ok) {
        CipherDestroy(handle);
        return nullptr;
    }
    return std::unique_ptr<CSessionCipher>(new CSessionCipher(handle));
}

// Every message starts from the zero IV with nothing pending, whatever the last one left.
bool CSessionCipher::StartMessage() {
    return CipherReset(m_hCipher) == CryptoStatus::Ok && CipherRestart(m_hCipher) == CryptoStatus::Ok;
}

int32_t CSessionCipher::Encrypt(const uint8_t* in, size_t size, uint8_t* out, size_t& outSize) {
    outSize = 0;
    if (size > std::numeric_limits<uint32_t>::max() - 2 * kSessionBlockSize) return CryptoStatus::InvalidArguments;
    if (!StartMessage()) return CryptoStatus::InternalFailure;
    uint32_t written = static_cast<uint32_t>(CipherSize(size));
    if (int32_t rc = CipherUpdate(m_hCipher, in, static_cast<uint32_t>(size), out, &written, true)) return rc;
    uint32_t last = static_cast<uint32_t>(CipherSize(size)) - written;
    if (int32_t rc = CipherFinal(m_hCipher, out + written, &last)) return rc;
    outSize = written + last;
    return CryptoStatus::Ok;
}

CSessionCipher::DecryptResult CSessionCipher::Decrypt(const uint8_t* in, size_t size, uint8_t* out,
                                                      size_t& outSize) {
    outSize = 0;
    if (size > std::numeric_limits<uint32_t>::max()) return DecryptResult::CipherFailed;
    if (!StartMessage()) return DecryptResult::CipherFailed;
    uint32_t written = static_cast<uint32_t>(size);
    if (CipherUpdate(m_hCipher, in, static_cast<uint32_t>(size), out, &written, false) != CryptoStatus::Ok) {
        return DecryptResult::CipherFailed;
    }
    // The held-back last block: its padding is checked here (at most 7 plaintext bytes).
    uint8_t last[kSessionBlockSize];
    uint32_t lastSize = sizeof last;
    const int32_t rc = CipherFinal(m_hCipher, last, &lastSize);
    if (rc != CryptoStatus::Ok) {
        StartMessage();
        return DecryptResult::BadData;
    }
    for (uint32_t i = 0; i < lastSize; ++i) out[written + i] = last[i];
    outSize = written + lastSize;
    return DecryptResult::Ok;
}

bool CSessionCipher::CheckBlock(uint8_t* out) {
    const uint8_t zeros[4] = {};
    size_t size = 0;
    return Encrypt(zeros, sizeof zeros, out, size) == CryptoStatus::Ok && size == kCheckBlockSize;
}

}  // namespace corvane
