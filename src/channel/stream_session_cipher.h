// The session protection of a keyed stream connection: two-key triple DES (K1, K2, K1) in CBC
// mode with an all-zero IV and PKCS#7 padding, the cipher reset before every message. Used by
// the service's connection threads and by every client of the stream channel. One object
// belongs to one connection and is used by one thread at a time. It owns a session cipher of the
// keyed channels (crypto/session_key.h), the same protection a phone's channels use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "crypto/cipher.h"
#include "crypto/session_key.h"

namespace corvane {

inline constexpr size_t kSessionBlockSize = 8;

class CSessionCipher {
public:
    ~CSessionCipher();
    CSessionCipher(const CSessionCipher&) = delete;
    CSessionCipher& operator=(const CSessionCipher&) = delete;

    // A cipher for the 16-byte session key, or null when the crypto library refuses it.
    static std::unique_ptr<CSessionCipher> Create(const uint8_t* key);
    // Takes ownership of a session cipher made by the session-key functions (null stays null).
    static std::unique_ptr<CSessionCipher> Adopt(CipherHandle handle);

    // Ciphertext size of `plainSize` bytes: the next multiple of 8 above it (1 to 8 bytes of
    // padding).
    static size_t CipherSize(size_t plainSize) { return (plainSize / kSessionBlockSize + 1) * kSessionBlockSize; }

    // Encrypts one message; `out` holds at least CipherSize(size) bytes. The crypto status (0
    // success) comes back; `outSize` is the ciphertext size.
    int32_t Encrypt(const uint8_t* in, size_t size, uint8_t* out, size_t& outSize);
    // Decrypts one message into `out` (at least `size` bytes). A failure of the data (not whole
    // blocks, bad padding) is reported apart from a failure of the cipher itself, because the
    // channel answers them with different codes.
    enum class DecryptResult { Ok, CipherFailed, BadData };
    DecryptResult Decrypt(const uint8_t* in, size_t size, uint8_t* out, size_t& outSize);

    // The check block: four zero bytes encrypted with the key, one 8-byte block.
    bool CheckBlock(uint8_t* out);

private:
    explicit CSessionCipher(CipherHandle handle) : m_hCipher(handle) {}

    CipherHandle m_hCipher;
};

}  // namespace corvane
