#include "token/token_requests.h"

#include <cstring>

#include "crypto/secure_zero.h"
#include "platform/text.h"
#include "token/p11_error.h"
#include "token/token_payload.h"
#include "wire/byte_order.h"

namespace corvane {

namespace {

constexpr uint16_t kReplyBit = 0x8000;
constexpr uint32_t kMaxModulusBits = CP11Containers::kMaxModulusBytes * 8;

// Wipes the bytes of PINs in the request once the operation has used them.
struct WipeOnExit {
    uint8_t* data;
    size_t length;
    ~WipeOnExit() { SecureZero(data, length); }
};

}  // namespace

CTokenRequests::CTokenRequests(CP11Binding& binding, CP11Containers& containers, CP11Objects& objects, IClock& clock)
    : m_binding(binding), m_containers(containers), m_objects(objects), m_clock(clock) {}

uint32_t CTokenRequests::HandleSlotList(const uint8_t* /*payload*/, size_t length, ReplyArena& arena,
                                        TokenReply& reply) {
    reply = {static_cast<uint16_t>(TokenRequest::SlotList | kReplyBit), nullptr, 0};
    if (length != 0) return TokenError::NteBadData;
    const uint32_t rc = m_binding.RefreshSlots();
    if (rc != 0) return rc;
    const uint32_t count = m_binding.SlotCount();
    const size_t size = 2 + SlotEntry::kSize * count;
    uint8_t* block = arena.Allocate(size);
    if (block == nullptr) return TokenError::NteNoMemory;
    WriteU16(block, static_cast<uint16_t>(count));
    for (uint32_t i = 0; i < count; ++i) m_binding.SlotAt(i).EncodeEntry(block + 2 + SlotEntry::kSize * i);
    reply.pPayload = block;
    reply.wLength = static_cast<uint16_t>(size);
    return 0;
}

uint32_t CTokenRequests::HandleSlotState(const uint8_t* payload, size_t length, ReplyArena& arena,
                                         TokenReply& reply) {
    reply = {static_cast<uint16_t>(TokenRequest::SlotState | kReplyBit), nullptr, 0};
    if (length != 4 || payload == nullptr) return TokenError::NteBadData;
    m_binding.RefreshSlots();
    P11Slot* slot = m_binding.FindSlotById(ReadU32(payload));
    if (slot == nullptr) return TokenError::NteNotFound;
    const uint32_t rc = m_binding.PollToken(*slot, nullptr);
    if (rc != 0) return rc;
    uint8_t* block = arena.Allocate(SlotEntry::kSize);
    if (block == nullptr) return TokenError::NteNoMemory;
    slot->EncodeEntry(block);
    reply.pPayload = block;
    reply.wLength = SlotEntry::kSize;
    return 0;
}

uint32_t CTokenRequests::HandleTokenOperation(uint8_t* payload, size_t length, ReplyArena& arena,
                                              TokenReply& reply) {
    reply = {static_cast<uint16_t>(TokenRequest::TokenOperation | kReplyBit), nullptr, 0};
    if (length < TokenRequest::kOperationHeaderSize || payload == nullptr) return TokenError::NteBadLen;
    const uint32_t slotId = ReadU32(payload);
    const uint16_t subOpcode = ReadU16(payload + 4);
    const uint16_t subLength = ReadU16(payload + 6);
    reply.wCode = static_cast<uint16_t>(subOpcode | kReplyBit);
    if (length != static_cast<size_t>(subLength) + TokenRequest::kOperationHeaderSize) return TokenError::NteBadLen;
    if (subOpcode & kReplyBit) return TokenError::NteBadData;
    m_binding.RefreshSlots();
    P11Slot* slot = m_binding.FindSlotById(slotId);
    if (slot == nullptr) return TokenError::ScardNoSmartcard;
    return Dispatch(*slot, subOpcode, payload + TokenRequest::kOperationHeaderSize, subLength, arena, reply);
}

uint32_t CTokenRequests::Dispatch(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength,
                                  ReplyArena& arena, TokenReply& reply) {
    switch (subOpcode) {
        case TokenRequest::GetLoginState:
        case TokenRequest::Login:
        case TokenRequest::ChangePin:
        case TokenRequest::UnblockPin:
        case TokenRequest::InitTokenWithPins:
        case TokenRequest::InitTokenWithoutPins:
            return PinOperation(slot, subOpcode, data, subLength, arena, reply);
        default:
            return ContainerOperation(slot, subOpcode, data, subLength, arena, reply);
    }
}

uint32_t CTokenRequests::ContainerReply(const ContainerInfo& info, ReplyArena& arena, TokenReply& reply) {
    const std::string_view name = info.Name();
    const size_t size = 4 + name.size() + 1;
    uint8_t* block = arena.Allocate(size);
    if (block == nullptr) return TokenError::NteNoMemory;
    WriteU32(block, info.hContainer);
    std::memcpy(block + 4, name.data(), name.size());
    reply.pPayload = block;
    reply.wLength = static_cast<uint16_t>(size);
    return 0;
}

uint32_t CTokenRequests::PublicKeyReply(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                        ReplyArena& arena, TokenReply& reply) {
    uint32_t bits = 0;
    uint32_t exponent = 0;
    const uint8_t* modulus = nullptr;
    const uint32_t rc = m_containers.GetPublicKey(slot, container, keySpec, bits, &exponent, &modulus, &arena);
    if (rc != 0) return rc;
    const size_t modulusBytes = (static_cast<size_t>(bits) + 7) / 8;
    uint8_t* block = arena.Allocate(12 + modulusBytes);
    if (block == nullptr) return TokenError::NteNoMemory;
    WriteU32(block, keySpec);
    WriteU32(block + 4, bits);
    WriteU32(block + 8, exponent);
    std::memcpy(block + 12, modulus, modulusBytes);
    reply.pPayload = block;
    reply.wLength = static_cast<uint16_t>(12 + modulusBytes);
    return 0;
}

uint32_t CTokenRequests::ContainerOperation(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength,
                                            ReplyArena& arena, TokenReply& reply) {
    switch (subOpcode) {
        case TokenRequest::CreateContainer: {
            std::string_view name;
            if (!ReadTerminatedString(data, subLength, name)) return TokenError::NteBadData;
            uint32_t handle = 0;
            const uint32_t rc = m_objects.CreateContainer(slot, name, handle);
            if (rc != 0) return rc;
            uint8_t* block = arena.Allocate(4);
            if (block == nullptr) return TokenError::NteNoMemory;
            WriteU32(block, handle);
            reply.pPayload = block;
            reply.wLength = 4;
            return 0;
        }
        case TokenRequest::GetContainerByIndex: {
            if (subLength != 4) return TokenError::NteBadData;
            ContainerInfo info;
            const uint32_t rc = m_containers.GetContainerByIndex(slot, ReadU32(data), &info);
            return rc != 0 ? rc : ContainerReply(info, arena, reply);
        }
        case TokenRequest::FindContainerByName: {
            std::string_view name;
            if (!ReadTerminatedString(data, subLength, name)) return TokenError::NteBadData;
            ContainerInfo info;
            const uint32_t rc = m_containers.FindContainerByName(slot, name, &info);
            return rc != 0 ? rc : ContainerReply(info, arena, reply);
        }
        case TokenRequest::DeleteContainer:
            if (subLength != 4) return TokenError::NteBadData;
            return m_objects.DeleteContainer(slot, ReadU32(data));
        case TokenRequest::GenerateKeyPair:
        case TokenRequest::GetPublicKey:
        case TokenRequest::ImportKeyPair:
        case TokenRequest::RsaPrivate:
        case TokenRequest::RsaPublic:
        case TokenRequest::WriteCertificate:
        case TokenRequest::ReadCertificate:
            break;
        default:
            return TokenError::NteNotSupported;
    }

    // The key-pair operations: u32 container handle, u32 key spec, then their own data.
    const bool fixed16 = subOpcode == TokenRequest::GenerateKeyPair;
    const bool fixed8 = subOpcode == TokenRequest::GetPublicKey || subOpcode == TokenRequest::ReadCertificate;
    if (fixed16 ? subLength != 16 : fixed8 ? subLength != 8 : subLength <= 8) return TokenError::NteBadData;
    ContainerInfo container;
    uint32_t rc = m_containers.GetContainerByHandle(slot, ReadU32(data), &container);
    if (rc != 0) return rc;
    const uint32_t keySpec = ReadU32(data + 4);
    uint8_t* rest = data + 8;
    const uint32_t restLength = subLength - 8u;
    switch (subOpcode) {
        case TokenRequest::GenerateKeyPair: {
            const uint32_t bits = ReadU32(rest);
            if (bits == 0 || bits > kMaxModulusBits) return TokenError::NteBadData;
            rc = m_objects.GenerateKeyPair(slot, container, keySpec, bits, ReadU32(rest + 4));
            return rc != 0 ? rc : PublicKeyReply(slot, container, keySpec, arena, reply);
        }
        case TokenRequest::GetPublicKey:
            return PublicKeyReply(slot, container, keySpec, arena, reply);
        case TokenRequest::ImportKeyPair:
            return m_objects.ImportKeyPair(slot, container, keySpec, rest, restLength);
        case TokenRequest::WriteCertificate:
            return m_objects.WriteCertificate(slot, container, keySpec, rest, restLength);
        case TokenRequest::ReadCertificate: {
            const uint8_t* der = nullptr;
            uint32_t derLength = 0;
            rc = m_containers.ReadCertificate(slot, container, keySpec, der, derLength, arena);
            if (rc != 0) return rc;
            reply.pPayload = der;
            reply.wLength = static_cast<uint16_t>(derLength);
            return 0;
        }
        default: {  // the raw RSA operations
            const bool usePublic = subOpcode == TokenRequest::RsaPublic;
            const std::u16string upn = usePublic ? std::u16string() : m_containers.GetCertificateUpn(slot, container.hContainer, keySpec);
            uint8_t* block = arena.Allocate(restLength);
            if (block == nullptr) return TokenError::NteNoMemory;
            std::memcpy(block, rest, restLength);
            rc = m_objects.RsaRawOperation(slot, container, keySpec, usePublic, block, restLength);
            if (rc != 0) {
                SecureZero(block, restLength);
                return rc;
            }
            reply.pPayload = block;
            reply.wLength = static_cast<uint16_t>(restLength);
            if (!usePublic) RecordSignIn(slot, upn);
            return 0;
        }
    }
}

uint32_t CTokenRequests::PinOperation(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength,
                                      ReplyArena& arena, TokenReply& reply) {
    WipeOnExit wipe {data, subLength};
    bool loggedIn = false;
    uint16_t pinInfo = 0;
    uint32_t rc = 0;
    std::string_view first;
    std::string_view second;
    switch (subOpcode) {
        case TokenRequest::GetLoginState:
            if (subLength != 0) return TokenError::NteBadData;
            rc = m_objects.GetLoginState(slot, loggedIn, pinInfo);
            break;
        case TokenRequest::Login:
            if (!ReadTerminatedString(data, subLength, first)) return TokenError::NteBadData;
            rc = m_objects.Login(slot, first, loggedIn, pinInfo);
            break;
        case TokenRequest::InitTokenWithoutPins:
            if (subLength != 0) return TokenError::NteBadData;
            return m_objects.InitToken(slot, false, {}, {});
        default:
            if (!ReadStringPair(data, subLength, first, second)) return TokenError::NteBadData;
            if (subOpcode == TokenRequest::ChangePin) rc = m_objects.ChangePin(slot, first, second);
            else if (subOpcode == TokenRequest::UnblockPin) rc = m_objects.UnblockPin(slot, first, second);
            else rc = m_objects.InitToken(slot, true, first, second);
            if (rc != 0) return rc;
            break;
    }
    if (rc != 0) return rc;
    uint8_t* block = arena.Allocate(4);
    if (block == nullptr) return TokenError::NteNoMemory;
    if (subOpcode == TokenRequest::GetLoginState || subOpcode == TokenRequest::Login) {
        block[0] = loggedIn ? 1 : 0;
        WriteU16(block + 2, pinInfo);
        reply.pPayload = block;
        reply.wLength = 4;
    } else if (subOpcode != TokenRequest::InitTokenWithPins) {
        reply.pPayload = block;  // four zero bytes
        reply.wLength = 4;
    }
    return 0;
}

void CTokenRequests::RecordSignIn(P11Slot& slot, const std::u16string& upn) {
    const uint16_t state = GetLogonComponentState ? GetLogonComponentState() : 0;
    if ((state != 2 && state != 3) || !RecordCardSignIn) return;
    TokenSignIn signIn;
    signIn.strUpn = upn;
    signIn.dwTick = m_clock.GetTickCount();
    slot.GetSerial(signIn.serial.data());
    bool known = false;
    for (uint8_t b : signIn.serial) known = known || b != 0;
    if (!known) {
        CK_TOKEN_INFO info {};
        if (m_containers.F()->C_GetTokenInfo(slot.LibrarySlotId(), &info) == CKR_OK) {
            std::memcpy(signIn.serial.data(), info.serialNumber, signIn.serial.size());
        }
    }
    signIn.strReader = Utf8ToUtf16(slot.Description());
    RecordCardSignIn(signIn);
}

}  // namespace corvane
