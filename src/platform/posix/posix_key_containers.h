// No CryptoAPI provider exists here: every container is missing. The service then keeps its host
// key only in its own RSA engine.
#pragma once

#include "platform/key_container.h"

namespace corvane::posix {

class PosixKeyContainers final : public IKeyContainers {
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

}  // namespace corvane::posix
