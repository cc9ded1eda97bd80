#include "device/token_cache_v1.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace corvane {

namespace {
constexpr uint32_t kResetQuietMs = 5000;
}

CContainerCSP* CTokenCacheV1::FindByHandle(uint32_t handle) {
    for (auto& container : m_containers)
        if (container.m_dwHandle == handle) return &container;
    return nullptr;
}

CContainerCSP* CTokenCacheV1::FindByName(std::string_view name) {
    for (auto& container : m_containers)
        if (NamesEqual(container.m_strName, name)) return &container;
    return nullptr;
}

// The KeyInfo named by a request that starts with u32 handle, u32 key spec.
KeyInfo* CTokenCacheV1::FindKey(const TokenMessage& request) {
    if (request.size < 8) return nullptr;
    uint32_t keySpec = request.U32At(4);
    if (!IsValidKeySpec(keySpec)) return nullptr;
    CContainerCSP* container = FindByHandle(request.U32At(0));
    return container ? container->KeyOf(keySpec).get() : nullptr;
}

void CTokenCacheV1::MarkModificationDone() {
    if (m_dwModificationPending == 0) return;
    m_dwLastModificationTick = m_clock.GetTickCount();
    m_dwModificationPending = 0;
}

uint32_t CTokenCacheV1::AnswerFromCache(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                        size_t* replySize) {
    const uint16_t code = request.header.code;
    switch (code) {
        case PhoneTokenOp::ContainerByName: {
            if (request.size <= 1) break;
            auto name = NameOfPayload(request.payload, request.size);
            CContainerCSP* container = name ? FindByName(*name) : nullptr;
            if (container == nullptr) break;
            uint8_t handle[4];
            WriteU32(handle, container->m_dwHandle);
            return BuildLocalReply(arena, code, 0, handle, sizeof handle, reply, replySize);
        }
        case PhoneTokenOp::GetPublicKey: {
            if (request.size != 8) break;
            KeyInfo* key = FindKey(request);
            if (key == nullptr) break;
            if (key->m_dwBits == 0)
                return BuildLocalReply(arena, code, TokenError::NteNoKey, nullptr, 0, reply, replySize);
            std::vector<uint8_t> modulus(key->m_modulus.begin(), key->m_modulus.begin() + key->ModulusBytes());
            auto payload = EncodePublicKey(key->m_dwKeySpec, key->m_dwBits, key->m_dwExponent, modulus);
            return BuildLocalReply(arena, code, 0, payload.data(), payload.size(), reply, replySize);
        }
        case PhoneTokenOp::ReadCertificate: {
            if (request.size != 8) break;
            KeyInfo* key = FindKey(request);
            if (key == nullptr || key->m_nCertLength == 0) break;
            if (key->m_nCertLength < 0)
                return BuildLocalReply(arena, code, TokenError::NteNotFound, nullptr, 0, reply, replySize);
            return BuildLocalReply(arena, code, 0, key->m_cert.data(), key->m_cert.size(), reply, replySize);
        }
        case PhoneTokenOp::TokenInfo:
            if (request.size != 0 || !m_tokenInfo) break;
            return BuildLocalReply(arena, code, 0, m_tokenInfo->data(), m_tokenInfo->size(), reply, replySize);
        case PhoneTokenOp::DeleteContainer:
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::ImportKeyPair:
        case PhoneTokenOp::WriteCertificate:
        case PhoneTokenOp::InitToken:
            m_dwModificationPending = 1;
            break;
        default:
            break;
    }
    return PhoneTokenStatus::Forward;
}

uint32_t CTokenCacheV1::NameTakesHandle(std::string_view name, uint32_t handle) {
    if (CContainerCSP* container = FindByName(name)) {
        container->m_dwHandle = handle;
        return 0;
    }
    try {
        CContainerCSP added;
        added.m_dwHandle = handle;
        added.m_strName = std::string(name);
        m_containers.push_back(std::move(added));
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
    return 0;
}

uint32_t CTokenCacheV1::StorePublicKey(CContainerCSP& container, uint32_t keySpec, const PublicKeyParts& parts) {
    if (parts.modulus.size() > KeyInfo::kMaxModulus) return TokenError::NteBadLen;
    auto key = std::unique_ptr<KeyInfo>(new (std::nothrow) KeyInfo);
    if (!key) return TokenError::NteNoMemory;
    key->m_dwKeySpec = keySpec;
    key->m_dwBits = parts.bits;
    key->m_dwExponent = parts.exponent;
    std::copy(parts.modulus.begin(), parts.modulus.end(), key->m_modulus.begin());
    container.KeyOf(keySpec) = std::move(key);
    return 0;
}

// 0x2021 and 0x2022: the public key the phone returned, or (0x2022) that it has none.
uint32_t CTokenCacheV1::UpdatePublicKey(const TokenMessage& request, const TokenMessage& reply) {
    if (request.header.code == PhoneTokenOp::GenerateKeyPair) MarkModificationDone();
    if (request.size < 8) return TokenError::NteBadLen;
    CContainerCSP* container = FindByHandle(request.U32At(0));
    const uint32_t keySpec = request.U32At(4);
    if (container == nullptr || !IsValidKeySpec(keySpec)) return TokenError::NteBadData;
    container->KeyOf(keySpec).reset();
    const uint32_t status = reply.header.status;
    if (request.header.code == PhoneTokenOp::GetPublicKey && IsKnownAbsent(status))
        return StorePublicKey(*container, keySpec, PublicKeyParts {keySpec, 0, 0, {}});
    if (status != 0) return status;
    auto parts = ParsePublicKeyReply(reply.payload, reply.size);
    if (!parts) return TokenError::NteBadLen;
    return StorePublicKey(*container, keySpec, *parts);
}

uint32_t CTokenCacheV1::UpdateImportedKey(const TokenMessage& request, const TokenMessage& reply) {
    MarkModificationDone();
    if (request.size < 8) return TokenError::NteBadLen;
    CContainerCSP* container = FindByHandle(request.U32At(0));
    const uint32_t keySpec = request.U32At(4);
    if (container == nullptr || !IsValidKeySpec(keySpec)) return TokenError::NteBadData;
    if (IsUnchangedRefusal(reply.header.status)) return reply.header.status;
    container->KeyOf(keySpec).reset();
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size != 0) return TokenError::NteFail;
    auto parts = ReadPrivateKeyPublicParts(request.payload + 8, request.size - 8);
    if (!parts) return TokenError::NteBadData;
    return StorePublicKey(*container, keySpec, *parts);
}

// 0x2031 caches what was written, 0x2032 what was read (or that there is none).
uint32_t CTokenCacheV1::UpdateCertificate(const TokenMessage& request, const TokenMessage& reply) {
    const bool write = request.header.code == PhoneTokenOp::WriteCertificate;
    if (write) MarkModificationDone();
    KeyInfo* key = FindKey(request);
    if (key == nullptr) return TokenError::NteBadData;
    key->m_cert.clear();
    key->m_nCertLength = 0;
    const uint32_t status = reply.header.status;
    if (!write && IsKnownAbsent(status)) {
        key->m_nCertLength = -1;
        return 0;
    }
    if (status != 0) return status;
    const uint8_t* cert = write ? request.payload + 8 : reply.payload;
    const size_t certSize = write ? request.size - 8 : reply.size;
    if (write ? reply.size != 0 : reply.size == 0) return TokenError::NteFail;
    if (certSize == 0) return TokenError::NteBadLen;
    try {
        key->m_cert.assign(cert, cert + certSize);
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
    key->m_nCertLength = static_cast<int32_t>(certSize);
    return 0;
}

uint32_t CTokenCacheV1::UpdateCache(const TokenMessage& request, const TokenMessage& reply) {
    const uint16_t code = request.header.code;
    if (reply.header.code != MsgHeader::ReplyCode(code)) return TokenError::NteBadData;
    const uint32_t status = reply.header.status;
    switch (code) {
        case PhoneTokenOp::CreateContainer:
        case PhoneTokenOp::ContainerByName: {
            if (code == PhoneTokenOp::ContainerByName && IsKnownAbsent(status)) {
                auto name = NameOfPayload(request.payload, request.size);
                if (!name) return TokenError::NteBadData;
                std::erase_if(m_containers, [&](const CContainerCSP& c) { return NamesEqual(c.m_strName, *name); });
                return 0;
            }
            if (status != 0) return status;
            if (reply.size != 4) return TokenError::NteBadLen;
            auto name = NameOfPayload(request.payload, request.size);
            // The default container (empty name) is not cached under a name.
            if (!name || name->empty()) return TokenError::NteBadData;
            return NameTakesHandle(*name, reply.U32At(0));
        }
        case PhoneTokenOp::ContainerByIndex: {
            if (status != 0) return status;
            if (reply.size < 6 || reply.size > 260) return TokenError::NteBadLen;
            auto name = NameOfPayload(reply.payload + 4, reply.size - 4);
            if (!name || name->empty()) return TokenError::NteBadData;
            return NameTakesHandle(*name, reply.U32At(0));
        }
        case PhoneTokenOp::DeleteContainer:
            MarkModificationDone();
            if (request.size < 4) return TokenError::NteBadLen;
            std::erase_if(m_containers, [&](const CContainerCSP& c) { return c.m_dwHandle == request.U32At(0); });
            return 0;
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::GetPublicKey:
            return UpdatePublicKey(request, reply);
        case PhoneTokenOp::ImportKeyPair:
            return UpdateImportedKey(request, reply);
        case PhoneTokenOp::WriteCertificate:
        case PhoneTokenOp::ReadCertificate:
            return UpdateCertificate(request, reply);
        case PhoneTokenOp::TokenInfo:
            if (status != 0) return status;
            if (reply.size != kTokenInfoSize) return TokenError::NteBadLen;
            m_tokenInfo.emplace();
            std::memcpy(m_tokenInfo->data(), reply.payload, kTokenInfoSize);
            return 0;
        case PhoneTokenOp::InitToken:
            MarkModificationDone();
            if (IsUnchangedRefusal(status)) return status;
            m_tokenInfo.reset();
            m_containers.clear();
            return 0;
        default:
            return 0;
    }
}

void CTokenCacheV1::ForgetUnansweredChange(const TokenMessage& request) {
    switch (request.header.code) {
        case PhoneTokenOp::DeleteContainer:
            MarkModificationDone();
            if (request.size >= 4)
                std::erase_if(m_containers, [&](const CContainerCSP& c) { return c.m_dwHandle == request.U32At(0); });
            return;
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::ImportKeyPair: {
            MarkModificationDone();
            if (request.size < 8 || !IsValidKeySpec(request.U32At(4))) return;
            // The key with its certificate: a key that was absent may now be there, and a new key
            // has none of the old one's certificate.
            if (CContainerCSP* container = FindByHandle(request.U32At(0))) container->KeyOf(request.U32At(4)).reset();
            return;
        }
        case PhoneTokenOp::WriteCertificate:
            MarkModificationDone();
            if (KeyInfo* key = FindKey(request)) {
                key->m_cert.clear();
                key->m_nCertLength = 0;
            }
            return;
        case PhoneTokenOp::InitToken:
            MarkModificationDone();
            m_tokenInfo.reset();
            m_containers.clear();
            return;
        default:
            return;
    }
}

void CTokenCacheV1::ResetCacheV1() {
    const uint32_t now = m_clock.GetTickCount();
    const bool clear = m_dwModificationPending == 0 && TicksSince(now, m_dwLastModificationTick) >= kResetQuietMs;
    m_dwLastModificationTick = 0;
    m_dwModificationPending = 0;
    if (clear) m_containers.clear();
    ++m_dwCacheGeneration;
}

void CTokenCacheV1::ResetOnRebind() {
    // A new connection may bring a phone whose token has changed: nothing of the old one is kept,
    // the token information block included.
    m_tokenInfo.reset();
    m_dwLastModificationTick = 0;
    m_dwModificationPending = 0;
    m_containers.clear();
    ++m_dwCacheGeneration;
}

}  // namespace corvane
