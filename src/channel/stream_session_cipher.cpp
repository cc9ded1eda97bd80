#include "channel/stream_session_cipher.h"

#include <limits>

#include "crypto/crypto_status.h"

namespace corvane {

CSessionCipher::~CSessionCipher() { CipherDestroy(m_hCipher); }

std::unique_ptr<CSessionCipher> CSessionCipher::Create(const uint8_t* key) {
    CipherHandle handle = nullptr;
    if (CreateSessionCipher(key, &handle) != SessionKeyStatus::Ok) return nullptr;
    return Adopt(handle);
}

std::unique_ptr<CSessionCipher> CSessionCipher::Adopt(CipherHandle handle) {
    if (handle == nullptr) return nullptr;
    return std::unique_ptr<CSessionCipher>(new CSessionCipher(handle));
}

int32_t CSessionCipher::Encrypt(const uint8_t* in, size_t size, uint8_t* out, size_t& outSize) {
    outSize = 0;
    if (size > std::numeric_limits<uint32_t>::max() - 2 * kSessionBlockSize) return CryptoStatus::InvalidArguments;
    return SessionEncrypt(m_hCipher, in, size, out, &outSize) == SessionKeyStatus::Ok ? CryptoStatus::Ok
                                                                                      : CryptoStatus::InternalFailure;
}

CSessionCipher::DecryptResult CSessionCipher::Decrypt(const uint8_t* in, size_t size, uint8_t* out,
                                                      size_t& outSize) {
    switch (SessionDecrypt(m_hCipher, in, size, out, &outSize)) {
    case SessionKeyStatus::Ok: return DecryptResult::Ok;
    case SessionKeyStatus::BadData: return DecryptResult::BadData;
    default: return DecryptResult::CipherFailed;
    }
}

bool CSessionCipher::CheckBlock(uint8_t* out) { return ComputeCheckBlock(m_hCipher, out) == SessionKeyStatus::Ok; }

}  // namespace corvane
