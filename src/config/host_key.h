// The host key pair: one RSA key per computer, generated on the first start, kept enciphered in
// the registry value RSAKey beside the host GUID, and loaded at every start into the service's
// own RSA engine and into the CryptoAPI key container named by the host GUID text.
#pragma once

#include <cstdint>

#include "config/configuration.h"
#include "crypto/rsa_blinding.h"
#include "platform/platform.h"
#include "token/handle_wrappers.h"

namespace corvane {

constexpr int32_t kHostKeyBits = 2048;
constexpr uint32_t kHostKeyExponent = 65537;
constexpr size_t kMaxRsaKeyValueBytes = 4096;
constexpr size_t kMaxHostKeyBlobBytes = 8192;

// The fixed two-key triple DES key under which RSAKey is stored (CBC, zero IV, PKCS#7).
extern const uint8_t kRsaKeyValueCipherKey[16];

// Set by LoadHostKey on the main thread before any worker exists; only read afterwards, by any
// number of threads at once.
struct HostKey {
    ChAsymmCtx g_hostKey;
    int32_t g_nHostKeyBits = 0;
    // The blinding pair of the private operation, kept across operations and shared by the
    // threads that use the key (it guards itself).
    mutable CRsaBlinding m_blinding;
};

// Loads RSAKey, or creates and stores a new key pair when it is missing, does not decipher or
// does not import. Returns 0, a Windows error, or a cipher or RSA status (as unsigned). Failures
// of the key-container step are ignored. config supplies g_strHostGuid, the container name.
uint32_t LoadHostKey(Platform& platform, const Configuration& config, HostKey& hostKey);

// The host key's raw private operation on a block of the modulus length (a session key a phone
// wrapped under the public half), blinded: phones choose the blocks, and the exponentiation's
// time must not tell them anything. The blinding pair is kept in the host key and refreshed from
// the OS CSPRNG every CRsaBlinding::kUsesPerPair operations. A status of the RSA engine.
int32_t HostKeyPrivate(const HostKey& hostKey, ISystem& system, const uint8_t* in, uint32_t length, uint8_t* out);

}  // namespace corvane
