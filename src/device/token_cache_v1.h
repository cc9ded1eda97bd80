// The phone token cache filled only from the phone's replies: the containers the CSP has asked
// about, their public keys and certificates, and the token information block. Not thread-safe:
// its owner serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/phone_token_message.h"
#include "platform/clock.h"

namespace corvane {

struct KeyInfo {
    static constexpr size_t kMaxModulus = 2048;
    uint32_t m_dwKeySpec = 0;
    uint32_t m_dwBits = 0;  // 0: the phone has no such key
    uint32_t m_dwExponent = 0;
    std::array<uint8_t, kMaxModulus> m_modulus {};  // big-endian, (bits + 7) / 8 bytes used
    int32_t m_nCertLength = 0;                      // 0 not cached, -1 known absent, else cached
    std::vector<uint8_t> m_cert;

    size_t ModulusBytes() const { return (static_cast<size_t>(m_dwBits) + 7) / 8; }
};

struct CContainerCSP {
    uint32_t m_dwHandle = 0;
    std::string m_strName;  // at most 255 bytes
    std::unique_ptr<KeyInfo> m_pExchangeKey;
    std::unique_ptr<KeyInfo> m_pSignatureKey;

    std::unique_ptr<KeyInfo>& KeyOf(uint32_t keySpec) {
        return keySpec == kKeySpecExchange ? m_pExchangeKey : m_pSignatureKey;
    }
};

class CTokenCacheV1 {
public:
    explicit CTokenCacheV1(IClock& clock) : m_clock(clock) {}

    // 0 with a local reply, PhoneTokenStatus::Forward, or an error.
    uint32_t AnswerFromCache(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    // Learns from a forwarded request and the phone's reply; 0 or the reason nothing was learnt.
    uint32_t UpdateCache(const TokenMessage& request, const TokenMessage& reply);
    // A changing request that got no readable reply: its change counts as over, and what it could
    // have changed is dropped, so that the next question about it goes to the phone.
    void ForgetUnansweredChange(const TokenMessage& request);
    // Empties the cache unless a change is under way or finished less than 5 s ago; always
    // counts a new generation.
    void ResetCacheV1();
    // What a rebind does: forget any modification under way and empty the cache and the token
    // information block, whatever the time since the last change (also in the first seconds
    // after start, when the tick is small).
    void ResetOnRebind();

    uint32_t CacheGeneration() const { return m_dwCacheGeneration; }
    size_t ContainerCount() const { return m_containers.size(); }
    bool ModificationPending() const { return m_dwModificationPending != 0; }

private:
    CContainerCSP* FindByHandle(uint32_t handle);
    CContainerCSP* FindByName(std::string_view name);
    KeyInfo* FindKey(const TokenMessage& request);
    void MarkModificationDone();
    uint32_t NameTakesHandle(std::string_view name, uint32_t handle);
    uint32_t StorePublicKey(CContainerCSP& container, uint32_t keySpec, const PublicKeyParts& parts);
    uint32_t UpdatePublicKey(const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateImportedKey(const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateCertificate(const TokenMessage& request, const TokenMessage& reply);

    IClock& m_clock;
    std::optional<std::array<uint8_t, kTokenInfoSize>> m_tokenInfo;
    std::vector<CContainerCSP> m_containers;
    uint32_t m_dwModificationPending = 0;
    uint32_t m_dwLastModificationTick = 0;
    uint32_t m_dwCacheGeneration = 0;
};

}  // namespace corvane
