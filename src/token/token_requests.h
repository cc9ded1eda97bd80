// The CSP's token requests on the stream channel: 0x7001 slot list, 0x7002 slot state and 0x7011
// token operation with its sub-operations. Each handler checks the request payload, finds the
// slot, calls one container or object operation and builds its reply in the request's arena.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "token/p11_binding.h"
#include "token/p11_containers.h"
#include "token/p11_objects.h"
#include "wire/reply_arena.h"

namespace corvane {

namespace TokenRequest {
constexpr uint16_t SlotList = 0x7001;
constexpr uint16_t SlotState = 0x7002;
constexpr uint16_t TokenOperation = 0x7011;
// Header of a token operation's payload: u32 slot id, u16 sub-opcode, u16 sub-length, u32 unused.
constexpr size_t kOperationHeaderSize = 12;

constexpr uint16_t CreateContainer = 0x2001;
constexpr uint16_t GetContainerByIndex = 0x2002;
constexpr uint16_t FindContainerByName = 0x2003;
constexpr uint16_t DeleteContainer = 0x2004;
constexpr uint16_t GetLoginState = 0x2011;
constexpr uint16_t Login = 0x2012;
constexpr uint16_t ChangePin = 0x2015;
constexpr uint16_t UnblockPin = 0x2016;
constexpr uint16_t GenerateKeyPair = 0x2021;
constexpr uint16_t GetPublicKey = 0x2022;
constexpr uint16_t ImportKeyPair = 0x2023;
constexpr uint16_t RsaPrivate = 0x2024;
constexpr uint16_t RsaPublic = 0x2025;
constexpr uint16_t WriteCertificate = 0x2031;
constexpr uint16_t ReadCertificate = 0x2032;
constexpr uint16_t InitTokenWithPins = 0x2101;
constexpr uint16_t InitTokenWithoutPins = 0x2102;
}  // namespace TokenRequest

// The reply a handler built: its code, and its payload in the request's arena. On an error the
// channel sends the bare header with the code and the error in its status.
struct TokenReply {
    uint16_t wCode = 0;
    const uint8_t* pPayload = nullptr;
    uint16_t wLength = 0;
};

// A smart-card sign-in seen while the logon component was logging a user on.
struct TokenSignIn {
    std::u16string strUpn;
    uint32_t dwTick = 0;
    std::array<uint8_t, 16> serial {};
    std::u16string strReader;
};

class CTokenRequests {
public:
    CTokenRequests(CP11Binding& binding, CP11Containers& containers, CP11Objects& objects, IClock& clock);

    uint32_t HandleSlotList(const uint8_t* payload, size_t length, ReplyArena& arena, TokenReply& reply);
    uint32_t HandleSlotState(const uint8_t* payload, size_t length, ReplyArena& arena, TokenReply& reply);
    // The payload is writable: PIN bytes in it are wiped once the operation has used them.
    uint32_t HandleTokenOperation(uint8_t* payload, size_t length, ReplyArena& arena, TokenReply& reply);

    // The logon component's reported state (2 and 3: a logon is under way); unset reads as 0.
    std::function<uint16_t()> GetLogonComponentState;
    // Stores the sign-in record for the session monitor.
    std::function<void(const TokenSignIn&)> RecordCardSignIn;

private:
    uint32_t Dispatch(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength, ReplyArena& arena,
                      TokenReply& reply);
    uint32_t ContainerOperation(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength,
                                ReplyArena& arena, TokenReply& reply);
    uint32_t PinOperation(P11Slot& slot, uint16_t subOpcode, uint8_t* data, uint16_t subLength, ReplyArena& arena,
                          TokenReply& reply);
    uint32_t PublicKeyReply(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, ReplyArena& arena,
                            TokenReply& reply);
    uint32_t ContainerReply(const ContainerInfo& info, ReplyArena& arena, TokenReply& reply);
    void RecordSignIn(P11Slot& slot, const std::u16string& upn);

    CP11Binding& m_binding;
    CP11Containers& m_containers;
    CP11Objects& m_objects;
    IClock& m_clock;
};

}  // namespace corvane
