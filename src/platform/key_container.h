// CryptoAPI key containers: acquiring a provider context on a named container, importing a
// private-key blob into it, and deciphering with its key-exchange key. The service keeps its host
// key pair in such a container (as well as in its own RSA engine). Handles are HCRYPTPROV and
// HCRYPTKEY values; 0 is no handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

using CryptProvHandle = uintptr_t;
using CryptKeyHandle = uintptr_t;

inline constexpr std::u16string_view kMsStrongProvider = u"Microsoft Strong Cryptographic Provider";
constexpr uint32_t kProvRsaFull = 1;          // PROV_RSA_FULL
constexpr uint32_t kCryptNewKeyset = 0x8;     // CRYPT_NEWKEYSET
constexpr uint32_t kNteBadData = 0x80090005;  // NTE_BAD_DATA
constexpr uint32_t kNteKeysetNotDef = 0x80090019;  // NTE_KEYSET_NOT_DEF: no such provider

class IKeyContainers {
public:
    virtual ~IKeyContainers() = default;
    // CryptAcquireContextW(container, provider, type, flags): 0 or the error (GetLastError).
    virtual uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                                    uint32_t providerType, uint32_t flags) = 0;
    // CryptImportKey(prov, blob, size, no import key, flags): 0 or the error.
    virtual uint32_t ImportKey(CryptProvHandle prov, const uint8_t* blob, size_t size, uint32_t flags,
                               CryptKeyHandle& key) = 0;
    // CryptGetUserKey(prov, keySpec): 0 or the error.
    virtual uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) = 0;
    // CryptDecrypt(key, no hash, final, no flags) in place: `length` bytes in (an RSA block least
    // significant byte first), the unpadded data's length out. 0 or the error.
    virtual uint32_t Decrypt(CryptKeyHandle key, uint8_t* data, uint32_t& length) = 0;
    // CryptDestroyKey and CryptReleaseContext(prov, 0); their failures are the caller's to ignore.
    virtual uint32_t DestroyKey(CryptKeyHandle key) = 0;
    virtual uint32_t ReleaseContext(CryptProvHandle prov) = 0;
};

}  // namespace corvane
