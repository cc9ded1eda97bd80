// The key exchange of the stream channel (request 0x1011, reply 0x9011). The client sends
// version 2 and its RSA public key (DER RSAPublicKey); the service chooses a 16-byte session key
// and answers with it wrapped under the client's key: the raw RSA public operation on the
// k-byte block 0x00 0x02, k - 27 non-zero random bytes, 0x00, the session key, the 8-byte check
// block (k = the modulus size in bytes, greater than 34; the block is big-endian): the wrapping
// every keyed channel uses (crypto/session_key.h). The session key and the padding come from the
// caller's random source, the operating system's CSPRNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "channel/stream_session_cipher.h"
#include "crypto/random_source.h"

namespace corvane {

inline constexpr uint16_t kKeyExchangeVersion = 2;
inline constexpr size_t kKeyExchangeVersionSize = 2;
// Request payload: version and at least a minimal DER key.
inline constexpr size_t kKeyExchangeMinLength = 11;
inline constexpr size_t kMinWrappedBlock = kMinWrappedKeySize;
// The longest key the channel takes (8192-bit moduli; the exponent is bounded too, by the rule of
// every keyed channel, CheckPeerPublicKey), so that one key exchange with an absurd modulus or
// exponent cannot keep a connection thread busy for minutes.
inline constexpr size_t kMaxWrappedBlock = kMaxWrappedKeySize;

struct KeyExchangeResult {
    uint32_t status = 0;                        // 0 or the error the reply carries
    std::unique_ptr<CSessionCipher> cipher;     // the new session cipher on success
    std::vector<uint8_t> wrappedKey;            // k bytes on success
};

// Runs the service side of the key exchange on the request payload (version, DER key).
// Errors: 0x80090005 short payload or a key that does not import, 0x8009000A version not 2,
// 0x80090020 modulus of 34 bytes or fewer or above 1024 bytes, a public exponent above 4 bytes
// (both refused before any RSA operation), no random bytes, or a cipher or RSA failure.
KeyExchangeResult RunKeyExchange(const uint8_t* payload, size_t length, const RandomSource& random);

}  // namespace corvane
