// Session protection of the keyed channels (the loopback stream, a phone's passive and active
// channels): a 16-byte two-key triple DES session key (K1, K2, K1), CBC with a zero IV and PKCS#7
// padding, the cipher restarted before every message. The key travels to the peer wrapped under
// the peer's RSA key in a PKCS#1 v1.5 type-2 block, followed by an 8-byte check block: the
// encryption of four zero bytes under the new key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cipher.h"
#include "crypto/random_source.h"
#include "crypto/rsa.h"

namespace corvane {

inline constexpr size_t kSessionKeySize = 16;
inline constexpr size_t kCheckBlockSize = 8;
// The smallest wrapped block: 0x00 0x02, eight padding bytes, 0x00, key and check block.
inline constexpr uint32_t kMinWrappedKeySize = 35;
// The largest peer modulus (8192 bits) and the longest peer public exponent a session key is
// wrapped under: a peer's key beyond them could keep a channel's thread busy for hours with one
// public operation before any session exists.
inline constexpr uint32_t kMaxWrappedKeySize = 1024;
inline constexpr uint32_t kMaxPeerExponentSize = 4;
// The most bytes PKCS#7 adds to a payload.
inline constexpr size_t kSessionPaddingMax = 8;

// What a session-key step reports; callers turn it into their own result codes.
enum class SessionKeyStatus {
    Ok,
    Fail,     // key import, RSA operation, random source or cipher set-up failed
    BadData,  // a block that does not hold a well-formed key, padding or check block
};

// A two-key triple DES context for the key, reset to CBC, zero IV, PKCS#7.
SessionKeyStatus CreateSessionCipher(const uint8_t* key, CipherHandle* cipher);
// The encryption of four zero bytes under the cipher's key (one 8-byte block).
SessionKeyStatus ComputeCheckBlock(CipherHandle cipher, uint8_t* checkBlock);

// The one rule for a peer's public key (DER RSAPublicKey) that a session key is to be wrapped
// under, checked before any key is built from it: Ok when its modulus has kMinWrappedKeySize to
// kMaxWrappedKeySize significant bytes and its public exponent at most kMaxPeerExponentSize;
// Fail when either is out of those bounds; BadData when the DER is no RSAPublicKey.
SessionKeyStatus CheckPeerPublicKey(const uint8_t* der, size_t length);

// Draws a fresh session key and the block padding from `random` (the OS CSPRNG), creates its
// cipher and wraps key and check block under the peer's public key into `wrapped`, which holds
// modulusBytes bytes (big-endian, as the RSA operation gives it). modulusBytes must be at least
// kMinWrappedKeySize. On failure no cipher is returned.
SessionKeyStatus WrapNewSessionKey(RsaHandle peerKey, uint32_t modulusBytes, const RandomSource& random,
                                   uint8_t* wrapped, CipherHandle* cipher);

// The other side: the private operation on the wrapped block, the type-2 padding (at least eight
// non-zero bytes), exactly 24 data bytes, and a check block that decrypts to zero bytes only.
// Returns the session cipher; on failure none.
SessionKeyStatus UnwrapSessionKey(RsaHandle ownKey, const uint8_t* wrapped, uint32_t length, CipherHandle* cipher);

// The data of a type-2 block once the private operation has run: 0x00 0x02, at least eight
// non-zero padding bytes and a zero separator. Ok with the data's offset in the block; BadData
// when the block is not shaped so.
SessionKeyStatus FindWrappedData(const uint8_t* block, size_t length, size_t* dataOffset);
// The session cipher of the 24 wrapped data bytes: the key, then a check block that must decrypt
// to zero bytes only (any count from 0 to 7). Fail when the cipher cannot be made or refuses the
// block, BadData for a wrong padding or check block. On failure no cipher is returned.
SessionKeyStatus SessionCipherFromWrappedData(const uint8_t* data, CipherHandle* cipher);
// The bytes the wrapped block carries: the key and its check block.
inline constexpr size_t kWrappedDataSize = kSessionKeySize + kCheckBlockSize;

// Encrypts length bytes (length > 0) into out, which holds length + kSessionPaddingMax bytes;
// outLength receives the ciphertext size. Fail on any cipher error.
SessionKeyStatus SessionEncrypt(CipherHandle cipher, const uint8_t* in, size_t length, uint8_t* out,
                                size_t* outLength);
// Decrypts length bytes into out (room for length bytes); outLength receives the plaintext size.
// Fail when the cipher refuses the input (not whole blocks), BadData when the padding is wrong.
SessionKeyStatus SessionDecrypt(CipherHandle cipher, const uint8_t* in, size_t length, uint8_t* out,
                                size_t* outLength);

}  // namespace corvane
