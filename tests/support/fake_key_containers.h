// CryptoAPI key containers for tests: containers by name, created with CRYPT_NEWKEYSET, that keep
// every imported blob; every call is recorded, and handles still open can be counted. A container
// holds a key-exchange key once a blob was imported; deciphering with it runs `decrypt`.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/key_container.h"

namespace corvane::test {

class FakeKeyContainers final : public IKeyContainers {
public:
    struct Acquisition {
        std::u16string container;
        std::u16string provider;
        uint32_t providerType = 0;
        uint32_t flags = 0;
        uint32_t result = 0;
    };

    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t providerType, uint32_t flags) override;
    uint32_t ImportKey(CryptProvHandle prov, const uint8_t* blob, size_t size, uint32_t flags,
                       CryptKeyHandle& key) override;
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) override;
    uint32_t Decrypt(CryptKeyHandle key, uint8_t* data, uint32_t& length) override;
    uint32_t DestroyKey(CryptKeyHandle key) override;
    uint32_t ReleaseContext(CryptProvHandle prov) override;

    std::vector<Acquisition> Acquisitions() const;
    bool HasContainer(const std::u16string& name) const;
    // The blobs imported into a container, oldest first.
    std::vector<std::vector<uint8_t>> ImportedBlobs(const std::u16string& name) const;
    size_t OpenContexts() const;
    size_t OpenKeys() const;

    // When set, no provider exists and every acquisition fails with NTE_KEYSET_NOT_DEF.
    bool providerMissing = false;
    // A non-zero error every import fails with.
    uint32_t importError = 0;
    // What deciphering does: the container's name, the bytes in place and their length. Without
    // it every decryption fails with NTE_BAD_KEY.
    std::function<uint32_t(const std::u16string& container, uint8_t* data, uint32_t& length)> decrypt;
    size_t DecryptCalls() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::u16string, std::vector<std::vector<uint8_t>>> m_containers;
    std::map<CryptProvHandle, std::u16string> m_contexts;
    std::map<CryptKeyHandle, CryptProvHandle> m_keys;
    size_t m_nDecryptCalls = 0;
    std::vector<Acquisition> m_acquisitions;
    uintptr_t m_nNextHandle = 0x1000;
};

}  // namespace corvane::test
