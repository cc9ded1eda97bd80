#include "support/fake_key_containers.h"

#include "platform/csp_containers.h"
#include "platform/types.h"

namespace corvane::test {

namespace {
constexpr uint32_t kNteBadKeyset = 0x80090016;  // NTE_BAD_KEYSET: the container does not exist
constexpr uint32_t kNteExists = 0x8009000F;     // NTE_EXISTS: CRYPT_NEWKEYSET on an existing one
constexpr uint32_t kNteBadKey = 0x80090003;     // NTE_BAD_KEY
constexpr uint32_t kNteNoKey = 0x8009000D;      // NTE_NO_KEY
}  // namespace

uint32_t FakeKeyContainers::AcquireContext(CryptProvHandle& prov, std::u16string_view container,
                                           std::u16string_view provider, uint32_t providerType, uint32_t flags) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Acquisition record {std::u16string(container), std::u16string(provider), providerType, flags, 0};
    const std::u16string name(container);
    prov = 0;
    if (providerMissing || provider != kMsStrongProvider || providerType != kProvRsaFull) {
        record.result = kNteKeysetNotDef;
    } else if (flags & kCryptNewKeyset) {
        if (m_containers.count(name)) {
            record.result = kNteExists;
        } else {
            m_containers[name];
        }
    } else if (!m_containers.count(name)) {
        record.result = kNteBadKeyset;
    }
    if (record.result == 0) {
        prov = m_nNextHandle++;
        m_contexts[prov] = name;
    }
    m_acquisitions.push_back(record);
    return record.result;
}

uint32_t FakeKeyContainers::ImportKey(CryptProvHandle prov, const uint8_t* blob, size_t size, uint32_t,
                                      CryptKeyHandle& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    key = 0;
    auto context = m_contexts.find(prov);
    if (context == m_contexts.end()) return WinError::InvalidHandle;
    if (importError) return importError;
    m_containers[context->second].emplace_back(blob, blob + size);
    key = m_nNextHandle++;
    m_keys[key] = prov;
    return 0;
}

uint32_t FakeKeyContainers::GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    key = 0;
    auto context = m_contexts.find(prov);
    if (context == m_contexts.end()) return WinError::InvalidHandle;
    if (keySpec != kAtKeyExchange || m_containers[context->second].empty()) return kNteNoKey;
    key = m_nNextHandle++;
    m_keys[key] = prov;
    return 0;
}

uint32_t FakeKeyContainers::Decrypt(CryptKeyHandle key, uint8_t* data, uint32_t& length) {
    std::u16string container;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nDecryptCalls;
        auto found = m_keys.find(key);
        if (found == m_keys.end()) return WinError::InvalidHandle;
        auto context = m_contexts.find(found->second);
        if (context == m_contexts.end()) return WinError::InvalidHandle;
        container = context->second;
    }
    return decrypt ? decrypt(container, data, length) : kNteBadKey;
}

size_t FakeKeyContainers::DecryptCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDecryptCalls;
}

uint32_t FakeKeyContainers::DestroyKey(CryptKeyHandle key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keys.erase(key) ? 0 : WinError::InvalidHandle;
}

uint32_t FakeKeyContainers::ReleaseContext(CryptProvHandle prov) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contexts.erase(prov) ? 0 : WinError::InvalidHandle;
}

std::vector<FakeKeyContainers::Acquisition> FakeKeyContainers::Acquisitions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_acquisitions;
}

bool FakeKeyContainers::HasContainer(const std::u16string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_containers.count(name) != 0;
}

std::vector<std::vector<uint8_t>> FakeKeyContainers::ImportedBlobs(const std::u16string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_containers.find(name);
    return it == m_containers.end() ? std::vector<std::vector<uint8_t>> {} : it->second;
}

size_t FakeKeyContainers::OpenContexts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contexts.size();
}

size_t FakeKeyContainers::OpenKeys() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keys.size();
}

}  // namespace corvane::test
