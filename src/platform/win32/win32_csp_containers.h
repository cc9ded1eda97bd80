// The companion CSP's containers through CryptoAPI.
#pragma once

#include "platform/csp_containers.h"

namespace corvane::win32 {

class Win32CspContainers final : public ICspContainers {
public:
    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t providerType, uint32_t flags) override;
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) override;
    uint32_t GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) override;
    uint32_t SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) override;
    uint32_t CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) override;
    uint32_t SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) override;
    uint32_t SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags, std::vector<uint8_t>& signature) override;
    uint32_t DestroyHash(CryptHashHandle hash) override;
    uint32_t DestroyKey(CryptKeyHandle key) override;
    uint32_t ReleaseContext(CryptProvHandle prov) override;
};

}  // namespace corvane::win32
