#include "device/token_cache_v2.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "wire/byte_order.h"

namespace corvane {

namespace {
// Handles whose containers are gone stay in the order so that an enumeration cursor still finds
// its place; beyond this many spare entries the order is compacted.
constexpr size_t kSpareOrderEntries = 256;
}  // namespace

void CTokenCacheV2::Clear() {
    m_rawImage.clear();
    m_containers.clear();
    m_containerOrder.clear();
}

CDevContainer* CTokenCacheV2::FindByHandle(uint32_t handle) {
    for (auto& container : m_containers)
        if (container.m_dwHandle == handle) return &container;
    return nullptr;
}

CDevContainer* CTokenCacheV2::FindByName(std::string_view name) {
    for (auto& container : m_containers)
        if (NamesEqual(container.m_strName, name)) return &container;
    return nullptr;
}

ContainerKey* CTokenCacheV2::FindKey(const TokenMessage& request) {
    if (request.size < 8) return nullptr;
    const uint32_t keySpec = request.U32At(4);
    if (!IsValidKeySpec(keySpec)) return nullptr;
    CDevContainer* container = FindByHandle(request.U32At(0));
    return container ? &container->KeyOf(keySpec) : nullptr;
}

void CTokenCacheV2::PruneOrder() {
    if (m_containerOrder.size() <= m_containers.size() + kSpareOrderEntries) return;
    std::erase_if(m_containerOrder, [&](uint32_t handle) { return FindByHandle(handle) == nullptr; });
}

// The raw image again, from the containers as they are now: the old header (length recomputed)
// and token information block, the count, one entry per container in array order.
void CTokenCacheV2::Rebuild() {
    if (m_rawImage.size() < MsgHeader::kSize + kContainerListHeadSize) return;
    std::vector<uint8_t> image(m_rawImage.begin(), m_rawImage.begin() + MsgHeader::kSize + kContainerListHeadSize);
    for (auto& container : m_containers) {
        ContainerListEntry entry {container.m_dwHandle, container.m_strName, {}};
        for (uint32_t spec : {kKeySpecExchange, kKeySpecSignature}) {
            const ContainerKey& key = container.KeyOf(spec);
            entry.keys[spec - 1] = {key.m_bKeyVersion, key.m_bCertVersion, key.m_strUpn.value_or(std::string())};
        }
        AppendContainerListEntry(image, entry);
    }
    const size_t payload = image.size() - MsgHeader::kSize;
    if (payload > 0xFFFF || m_containers.size() > 0xFFFF) {
        // A list the phone could not have sent: stop answering locally until the next list.
        Clear();
        return;
    }
    WriteU16(image.data() + MsgHeader::kLengthOffset, static_cast<uint16_t>(payload));
    WriteU16(image.data() + MsgHeader::kSize + kTokenInfoSize, static_cast<uint16_t>(m_containers.size()));
    m_rawImage = std::move(image);
}

uint32_t CTokenCacheV2::UpdateContainerList(const uint8_t* message, size_t size) {
    auto list = TokenMessage::View(message, size);
    if (!list) {
        Clear();
        return TokenError::NteBadLen;
    }
    if (list->header.status != 0) {
        Clear();
        return list->header.status;
    }
    if (m_rawImage.size() == size && std::memcmp(m_rawImage.data(), message, size) == 0) return 0;

    ContainerListContent content;
    if (uint32_t error = ParseContainerList(list->payload, list->size, content); error != 0) {
        Clear();
        return error;
    }
    m_rawImage.assign(message, message + size);
    const uint32_t tick = m_clock.GetTickCount();
    // The tick alone would keep a container that two lists in the same millisecond disagree on.
    const uint64_t update = ++m_listUpdates;
    for (auto& entry : content.entries) {
        CDevContainer* container = FindByHandle(entry.handle);
        if (container == nullptr) {
            m_containers.emplace_back();
            container = &m_containers.back();
            // The order is that of first appearance: a handle that comes back after its
            // container was deleted keeps its place. Listed twice, an enumeration would go from
            // its second place back to the first and never reach the end.
            if (std::find(m_containerOrder.begin(), m_containerOrder.end(), entry.handle) == m_containerOrder.end())
                m_containerOrder.push_back(entry.handle);
        }
        container->m_dwSeenTick = tick;
        container->m_seenUpdate = update;
        container->m_strName = entry.name;
        container->m_dwHandle = entry.handle;
        for (uint32_t spec : {kKeySpecExchange, kKeySpecSignature}) {
            ContainerKey& key = container->KeyOf(spec);
            const ContainerListKey& listed = entry.keys[spec - 1];
            if (listed.keyVersion != key.m_bKeyVersion) {
                key.m_bKeyVersion = listed.keyVersion;
                key.DropPublicKey();
            }
            if (listed.certVersion != key.m_bCertVersion) {
                key.m_bCertVersion = listed.certVersion;
                key.DropCertificate();
            }
            if (listed.upn.empty())
                key.m_strUpn.reset();
            else if (key.m_strUpn != listed.upn)
                key.m_strUpn = listed.upn;
        }
    }
    std::erase_if(m_containers, [&](const CDevContainer& c) { return c.m_seenUpdate != update; });
    PruneOrder();
    m_dwContainerListMode = 1;
    return 0;
}

uint32_t CTokenCacheV2::AnswerEnumerate(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                        size_t* replySize) {
    if (request.size != 4) return TokenError::NteBadLen;
    const uint32_t cursor = request.U32At(0);
    size_t start = 0;
    if (cursor != 0xFFFFFFFF) {
        auto at = std::find(m_containerOrder.begin(), m_containerOrder.end(), cursor);
        if (at != m_containerOrder.end()) start = static_cast<size_t>(at - m_containerOrder.begin()) + 1;
    }
    for (size_t i = start; i < m_containerOrder.size(); ++i) {
        const CDevContainer* container = FindByHandle(m_containerOrder[i]);
        if (container == nullptr) continue;
        std::vector<uint8_t> payload(4 + container->m_strName.size() + 1);
        WriteU32(payload.data(), container->m_dwHandle);
        std::memcpy(payload.data() + 4, container->m_strName.data(), container->m_strName.size());
        return BuildLocalReply(arena, request.header.code, 0, payload.data(), payload.size(), reply, replySize);
    }
    return TokenError::NoMoreItems;
}

uint32_t CTokenCacheV2::AnswerByName(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                     size_t* replySize) {
    if (request.size < 2) return TokenError::NteBadLen;
    const char* text = reinterpret_cast<const char*>(request.payload);
    const size_t length = strnlen(text, request.size);
    if (length + 1 != request.size) return TokenError::NteBadData;
    const CDevContainer* container = FindByName(std::string_view(text, length));
    if (container == nullptr) return TokenError::NteNotFound;
    uint8_t handle[4];
    WriteU32(handle, container->m_dwHandle);
    return BuildLocalReply(arena, request.header.code, 0, handle, sizeof handle, reply, replySize);
}

uint32_t CTokenCacheV2::AnswerPublicKey(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                        size_t* replySize) {
    if (request.size != 8) return TokenError::NteBadLen;
    const ContainerKey* key = FindKey(request);
    if (key == nullptr) return TokenError::NteBadData;
    if (key->m_bKeyVersion == 0)
        return BuildLocalReply(arena, request.header.code, TokenError::NteNoKey, nullptr, 0, reply, replySize);
    if (key->m_dwBits == 0) return PhoneTokenStatus::Forward;
    auto payload = EncodePublicKey(request.U32At(4), key->m_dwBits, key->m_dwExponent, key->m_modulus);
    return BuildLocalReply(arena, request.header.code, 0, payload.data(), payload.size(), reply, replySize);
}

uint32_t CTokenCacheV2::AnswerCertificate(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                          size_t* replySize) {
    if (request.size != 8) return TokenError::NteBadLen;
    const ContainerKey* key = FindKey(request);
    if (key == nullptr) return TokenError::NteBadData;
    if (key->m_bCertVersion == 0)
        return BuildLocalReply(arena, request.header.code, TokenError::NteNotFound, nullptr, 0, reply, replySize);
    if (key->m_cert.empty()) return PhoneTokenStatus::Forward;
    return BuildLocalReply(arena, request.header.code, 0, key->m_cert.data(), key->m_cert.size(), reply, replySize);
}

uint32_t CTokenCacheV2::AnswerFromCache(const TokenMessage& request, ReplyArena& arena, uint8_t** reply,
                                        size_t* replySize) {
    if (!HasImage()) return PhoneTokenStatus::Forward;
    switch (request.header.code) {
        case PhoneTokenOp::ContainerByIndex:
            return AnswerEnumerate(request, arena, reply, replySize);
        case PhoneTokenOp::ContainerByName:
            return AnswerByName(request, arena, reply, replySize);
        case PhoneTokenOp::GetPublicKey:
            return AnswerPublicKey(request, arena, reply, replySize);
        case PhoneTokenOp::ReadCertificate:
            return AnswerCertificate(request, arena, reply, replySize);
        case PhoneTokenOp::TokenInfo:
            return BuildLocalReply(arena, request.header.code, 0, m_rawImage.data() + MsgHeader::kSize, kTokenInfoSize,
                                   reply, replySize);
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::ImportKeyPair:
            if (ContainerKey* key = FindKey(request)) key->m_bKeyVersionAtRequest = key->m_bKeyVersion;
            return PhoneTokenStatus::Forward;
        case PhoneTokenOp::WriteCertificate:
            if (ContainerKey* key = FindKey(request)) key->m_bCertVersionAtRequest = key->m_bCertVersion;
            return PhoneTokenStatus::Forward;
        default:
            return PhoneTokenStatus::Forward;
    }
}

uint32_t CTokenCacheV2::StoreCertificate(ContainerKey& key, const uint8_t* der, size_t size) {
    try {
        key.m_cert.assign(der, der + size);
    } catch (const std::bad_alloc&) {
        key.m_cert.clear();
        return TokenError::NteNoMemory;
    }
    std::string upn;
    // A name with a NUL could not travel in the list; it leaves the name as it was.
    if (m_upnReader && m_upnReader(der, size, upn) && !upn.empty() && upn.find('\0') == std::string::npos &&
        key.m_strUpn != upn)
        key.m_strUpn = std::move(upn);
    return 0;
}

uint32_t CTokenCacheV2::UpdateCreated(const TokenMessage& request, const TokenMessage& reply) {
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size != 4) return TokenError::NteFail;
    auto name = NameOfPayload(request.payload, request.size);
    if (!name) return TokenError::NteBadData;
    const uint32_t handle = reply.U32At(0);
    if (CDevContainer* container = FindByName(*name)) {
        container->m_dwHandle = handle;
        container->m_exchangeKey = ContainerKey {};
        container->m_signatureKey = ContainerKey {};
    } else {
        CDevContainer added;
        added.m_dwSeenTick = m_clock.GetTickCount();
        added.m_seenUpdate = m_listUpdates;
        added.m_dwHandle = handle;
        added.m_strName = std::string(*name);
        m_containers.push_back(std::move(added));
    }
    std::erase(m_containerOrder, handle);
    m_containerOrder.push_back(handle);
    Rebuild();
    return 0;
}

uint32_t CTokenCacheV2::UpdateDeleted(const TokenMessage& request, const TokenMessage& reply) {
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size != 0) return TokenError::NteFail;
    if (request.size < 4) return TokenError::NteBadLen;
    std::erase_if(m_containers, [&](const CDevContainer& c) { return c.m_dwHandle == request.U32At(0); });
    Rebuild();
    return 0;
}

uint32_t CTokenCacheV2::UpdateGenerated(ContainerKey& key, const TokenMessage& reply) {
    if (reply.header.status != 0) return reply.header.status;
    auto parts = ParsePublicKeyReply(reply.payload, reply.size);
    if (!parts) return TokenError::NteFail;
    // A list from the phone moved the key on more than one step meanwhile: this reply is stale.
    if (key.m_bKeyVersion != key.m_bKeyVersionAtRequest && key.m_bKeyVersion != NextVersion(key.m_bKeyVersionAtRequest))
        return 0;
    key.m_dwBits = parts->bits;
    key.m_dwExponent = parts->exponent;
    key.m_modulus = std::move(parts->modulus);
    if (key.m_bKeyVersion == key.m_bKeyVersionAtRequest || key.m_bKeyVersion == 0)
        key.m_bKeyVersion = NextVersion(key.m_bKeyVersion);
    key.m_bCertVersion = 0;
    key.DropCertificate();
    Rebuild();
    return 0;
}

uint32_t CTokenCacheV2::UpdatePublicKey(ContainerKey& key, const TokenMessage& reply) {
    if (IsKnownAbsent(reply.header.status)) {
        key.m_bKeyVersion = 0;
        key.DropPublicKey();
        Rebuild();
        return 0;
    }
    if (reply.header.status != 0) return reply.header.status;
    auto parts = ParsePublicKeyReply(reply.payload, reply.size);
    if (!parts) return TokenError::NteFail;
    key.m_dwBits = parts->bits;
    key.m_dwExponent = parts->exponent;
    key.m_modulus = std::move(parts->modulus);
    if (key.m_bKeyVersion == 0) {
        key.m_bKeyVersion = 1;
        Rebuild();
    }
    return 0;
}

uint32_t CTokenCacheV2::UpdateImported(ContainerKey& key, const TokenMessage& request, const TokenMessage& reply) {
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size != 0) return TokenError::NteFail;
    if (key.m_bKeyVersion != key.m_bKeyVersionAtRequest) return 0;
    auto parts = ReadPrivateKeyPublicParts(request.payload + 8, request.size - 8);
    if (!parts) return TokenError::NteBadData;
    key.m_dwBits = parts->bits;
    key.m_dwExponent = parts->exponent;
    key.m_modulus = std::move(parts->modulus);
    key.m_bKeyVersion = NextVersion(key.m_bKeyVersion);
    key.m_bCertVersion = 0;
    key.DropCertificate();
    Rebuild();
    return 0;
}

uint32_t CTokenCacheV2::UpdateWritten(ContainerKey& key, const TokenMessage& request, const TokenMessage& reply) {
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size != 0) return TokenError::NteFail;
    if (key.m_bCertVersion != key.m_bCertVersionAtRequest) return 0;
    if (request.size == 8) return TokenError::NteBadLen;
    if (uint32_t error = StoreCertificate(key, request.payload + 8, request.size - 8); error != 0) return error;
    key.m_bCertVersion = NextVersion(key.m_bCertVersion);
    Rebuild();
    return 0;
}

uint32_t CTokenCacheV2::UpdateRead(ContainerKey& key, const TokenMessage& reply) {
    if (IsKnownAbsent(reply.header.status)) {
        key.m_bCertVersion = 0;
        key.DropCertificate();
        Rebuild();
        return 0;
    }
    if (reply.header.status != 0) return reply.header.status;
    if (reply.size == 0) return TokenError::NteFail;
    if (uint32_t error = StoreCertificate(key, reply.payload, reply.size); error != 0) return error;
    if (key.m_bCertVersion == 0) key.m_bCertVersion = 1;
    // Also carries a user principal name newly read from the certificate into the image.
    Rebuild();
    return 0;
}

void CTokenCacheV2::ForgetUnansweredChange(const TokenMessage& request) {
    if (!HasImage()) return;
    switch (request.header.code) {
        case PhoneTokenOp::DeleteContainer:
        case PhoneTokenOp::InitToken:
            Clear();
            return;
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::ImportKeyPair:
            if (ContainerKey* key = FindKey(request)) {
                key->m_bKeyVersion = NextVersion(key->m_bKeyVersion);
                key->DropPublicKey();
                key->DropCertificate();
                Rebuild();
            }
            return;
        case PhoneTokenOp::WriteCertificate:
            if (ContainerKey* key = FindKey(request)) {
                key->m_bCertVersion = NextVersion(key->m_bCertVersion);
                key->DropCertificate();
                Rebuild();
            }
            return;
        default:
            return;
    }
}

uint32_t CTokenCacheV2::UpdateCache(const TokenMessage& request, const TokenMessage& reply) {
    if (!HasImage()) return PhoneTokenStatus::Forward;
    const uint16_t code = request.header.code;
    if (reply.header.code != MsgHeader::ReplyCode(code)) return TokenError::NteBadData;
    switch (code) {
        case PhoneTokenOp::CreateContainer:
            return UpdateCreated(request, reply);
        case PhoneTokenOp::DeleteContainer:
            return UpdateDeleted(request, reply);
        case PhoneTokenOp::InitToken:
            if (reply.header.status != 0) return reply.header.status;
            Clear();
            return 0;
        case PhoneTokenOp::GenerateKeyPair:
        case PhoneTokenOp::GetPublicKey:
        case PhoneTokenOp::ImportKeyPair:
        case PhoneTokenOp::WriteCertificate:
        case PhoneTokenOp::ReadCertificate:
            break;
        default:
            return 0;
    }
    ContainerKey* key = FindKey(request);
    if (key == nullptr) return TokenError::NteBadData;
    switch (code) {
        case PhoneTokenOp::GenerateKeyPair:
            return UpdateGenerated(*key, reply);
        case PhoneTokenOp::GetPublicKey:
            return UpdatePublicKey(*key, reply);
        case PhoneTokenOp::ImportKeyPair:
            return UpdateImported(*key, request, reply);
        case PhoneTokenOp::WriteCertificate:
            return UpdateWritten(*key, request, reply);
        default:
            return UpdateRead(*key, reply);
    }
}

}  // namespace corvane
