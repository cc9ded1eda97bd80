// The companion CSP's key containers through CryptoAPI: acquire a container path, take a user
// key, read its certificate, set the key-exchange PIN, and sign a SHA-1 hash value. Windows calls
// the provider "Tovrel pkcs11 CSP"; POSIX has a stand-in of ours that keeps the keys of network
// phones under the state root. Handles are HCRYPTPROV, HCRYPTKEY and HCRYPTHASH values; 0 is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/key_container.h"

namespace corvane {

using CryptHashHandle = uintptr_t;

inline constexpr std::u16string_view kCompanionCspProvider = u"Tovrel pkcs11 CSP";
constexpr uint32_t kCryptSilent = 0x40;          // CRYPT_SILENT
constexpr uint32_t kAtKeyExchange = 1;           // AT_KEYEXCHANGE
constexpr uint32_t kAtSignature = 2;             // AT_SIGNATURE
constexpr uint32_t kKpCertificate = 26;          // KP_CERTIFICATE
constexpr uint32_t kKpKeyExchangePin = 32;       // KP_KEYEXCHANGE_PIN
constexpr uint32_t kCalgSha1 = 0x8004;           // CALG_SHA1
constexpr uint32_t kHpHashVal = 2;               // HP_HASHVAL
constexpr uint32_t kCryptNoHashOid = 0x1;        // CRYPT_NOHASHOID

namespace CspError {
constexpr uint32_t NteBadKeyset = 0x80090016;    // NTE_BAD_KEYSET: no such container
constexpr uint32_t NteNoKey = 0x8009000D;        // NTE_NO_KEY
constexpr uint32_t NteBadUid = 0x80090001;       // NTE_BAD_UID: not a handle of this provider
constexpr uint32_t NteBadType = 0x8009000A;      // NTE_BAD_TYPE
constexpr uint32_t NteBadAlgid = 0x80090008;     // NTE_BAD_ALGID
constexpr uint32_t NteProvTypeNotDef = 0x80090017;
constexpr uint32_t NteProviderDllFail = 0x8009001D;  // NTE_PROVIDER_DLL_FAIL: provider cannot be reached
}  // namespace CspError

class ICspContainers {
public:
    virtual ~ICspContainers() = default;
    // CryptAcquireContextW(container, provider, type, flags): 0 or the error.
    virtual uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                                    uint32_t providerType, uint32_t flags) = 0;
    // CryptGetUserKey.
    virtual uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) = 0;
    // CryptGetKeyParam, first for the size, then for the bytes.
    virtual uint32_t GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) = 0;
    // CryptSetKeyParam; the value's layout is the parameter's (a NUL-terminated PIN for the PINs).
    virtual uint32_t SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) = 0;
    // CryptCreateHash(prov, algorithm, no key, 0).
    virtual uint32_t CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) = 0;
    // CryptSetHashParam.
    virtual uint32_t SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) = 0;
    // CryptSignHashW(hash, key spec, no description, flags): the signature, least significant byte first.
    virtual uint32_t SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags, std::vector<uint8_t>& signature) = 0;
    // CryptDestroyHash, CryptDestroyKey, CryptReleaseContext.
    virtual uint32_t DestroyHash(CryptHashHandle hash) = 0;
    virtual uint32_t DestroyKey(CryptKeyHandle key) = 0;
    virtual uint32_t ReleaseContext(CryptProvHandle prov) = 0;
};

}  // namespace corvane
