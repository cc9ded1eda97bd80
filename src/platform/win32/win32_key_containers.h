// CryptoAPI key containers through advapi32.
#pragma once

#include "platform/key_container.h"

namespace corvane::win32 {

class Win32KeyContainers final : public IKeyContainers {
public:
    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t providerType, uint32_t flags) override;
    uint32_t ImportKey(CryptProvHandle prov, const uint8_t* blob, size_t size, uint32_t flags,
                       CryptKeyHandle& key) override;
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) override;
    uint32_t Decrypt(CryptKeyHandle key, uint8_t* data, uint32_t& length) override;
    uint32_t DestroyKey(CryptKeyHandle key) override;
    uint32_t ReleaseContext(CryptProvHandle prov) override;
};

}  // namespace corvane::win32
