// The request table of the stream channel: each code's length check and action. Requests that
// need no reply body get the bare header (length 0, status 0).
#include <cstring>

#include "channel/stream_request_handler.h"
#include "platform/text.h"
#include "wire/byte_order.h"
#include "wire/companion_contract.h"

namespace corvane {

namespace {
constexpr uint16_t kCloseDevice = 0x4006;
constexpr uint16_t kRestartBle = 0x4007;
constexpr uint16_t kReleasePcManager = 0x4008;
constexpr uint16_t kPairedDevices = 0x4004;
constexpr uint16_t kStateReport = 0x4005;
constexpr uint16_t kPhoneList = 0x4101;
constexpr uint16_t kBleStatusQuery = 0x4103;
constexpr uint16_t kDeviceSessions = 0x5111;
constexpr size_t kDeviceIdSize = 40;
constexpr size_t kPortsSize = 4;

const uint8_t* PayloadOf(const uint8_t* message) { return message + MsgHeader::kSize; }
uint16_t LengthOf(const uint8_t* message) { return ReadU16(message + MsgHeader::kLengthOffset); }

// A reply of `size` payload bytes copied from `payload` (header with code and status 0).
uint8_t* CopyReply(ReplyArena& arena, uint16_t code, const uint8_t* payload, size_t size) {
    uint8_t* reply = arena.Allocate(MsgHeader::kSize + size);
    if (reply == nullptr) return nullptr;
    MsgHeader {code, static_cast<uint16_t>(size), 0}.Encode(reply);
    if (size) std::memcpy(reply + MsgHeader::kSize, payload, size);
    return reply;
}

// A reply message handed back by another layer must frame itself exactly.
bool IsFramedMessage(const uint8_t* message, size_t size) {
    return message != nullptr && size >= MsgHeader::kSize && LengthOf(message) + MsgHeader::kSize == size;
}
}  // namespace

uint32_t CStreamRequestHandler::Dispatch(const uint8_t* request, ReplyArena& arena, uint8_t*& reply,
                                         uint16_t& replyCode) {
    const MsgHeader header = *MsgHeader::Decode(request, MsgHeader::kSize);
    const uint8_t* payload = PayloadOf(request);
    const uint16_t length = header.length;
    auto empty = [&]() -> uint32_t {
        reply = AllocateEmptyReply(arena);
        return reply ? 0 : StreamStatus::NteNoMemory;
    };

    switch (header.code) {
        case Contract::kLogonResultReport:
            if (m_reports.HandleLogonResultReport(request, MsgHeader::kSize + length) != 0) return StreamStatus::NteFail;
            return empty();
        case Contract::kNetDeviceList: {
            if (length != 0) return StreamStatus::NteFail;
            uint8_t* list = nullptr;
            size_t size = 0;
            if (int32_t rc = m_netDevices.ListNetDevices(list, size, arena)) return static_cast<uint32_t>(rc);
            if (!IsFramedMessage(list, size)) return StreamStatus::NteFail;
            reply = list;
            return 0;
        }
        case Contract::kForwardOn:
            m_forwardEnabled = true;
            return empty();
        case Contract::kForwardOff:
            m_forwardEnabled = false;
            return empty();
        case kPairedDevices:
            if (uint32_t rc = ReplacePairedDevices(payload, length)) return rc;
            return empty();
        case kStateReport: return ReportState(request, false, arena, reply);
        case kCloseDevice:
        case kDeviceSessions:
            if (uint32_t rc = DeviceById(request, header.code)) return rc;
            return empty();
        case kRestartBle:
            if (length != 0) return StreamStatus::NteBadLen;
            if (uint32_t rc = m_pDevices->RequestBleRestart()) return rc;
            return empty();
        case kReleasePcManager:
            if (length != 0) return StreamStatus::NteBadLen;
            if (uint32_t rc = m_pDevices->StartPcManagerRelease()) return rc;
            return empty();
        case kPhoneList: return ReportState(request, true, arena, reply);
        case kBleStatusQuery: {
            if (length != 0) return StreamStatus::NteBadLen;
            uint8_t status[Contract::kBleStatusSize] = {};
            if (m_hooks.ReadBleStatus) m_hooks.ReadBleStatus(status);
            reply = CopyReply(arena, header.code, status, sizeof status);
            return reply ? 0 : StreamStatus::NteNoMemory;
        }
        case Contract::kAnnouncePorts:
            if (uint32_t rc = AnnouncePorts(payload, length)) return rc;
            return empty();
        case Contract::kPhoneRelay: return RelayToDevice(request, arena, reply, replyCode);
        case Contract::kTokenSlotList:
        case Contract::kTokenSlotState:
        case Contract::kTokenOperation: return TokenRequest(request, arena, reply, replyCode);
        default: return StreamStatus::NteNotSupported;
    }
}

uint32_t CStreamRequestHandler::AnnouncePorts(const uint8_t* payload, uint16_t length) {
    if (length != kPortsSize) return StreamStatus::NteBadLen;
    const uint16_t tcp = ReadU16(payload);
    const uint16_t udp = ReadU16(payload + 2);
    if (tcp != 0) m_config.g_wLogonPortTcp = tcp;
    if (udp != 0) m_config.g_wLogonPortUdp = udp;
    return 0;
}

// 0x4006 and 0x5111: a 40-byte device id, nothing else.
uint32_t CStreamRequestHandler::DeviceById(const uint8_t* request, uint16_t code) {
    if (LengthOf(request) != kDeviceIdSize) return StreamStatus::NteBadLen;
    const std::u16string id = Utf8SlotToUtf16(PayloadOf(request), kDeviceIdSize);
    return code == kCloseDevice ? m_pDevices->CloseDevice(id) : m_pDevices->ReportDeviceSessions(id);
}

// 0x5101: a 40-byte device id, then a whole inner message for the device.
uint32_t CStreamRequestHandler::RelayToDevice(const uint8_t* request, ReplyArena& arena, uint8_t*& reply,
                                              uint16_t& replyCode) {
    const uint16_t length = LengthOf(request);
    const uint8_t* payload = PayloadOf(request);
    if (length < kDeviceIdSize + MsgHeader::kSize) return StreamStatus::NteBadLen;
    const uint8_t* inner = payload + kDeviceIdSize;
    const MsgHeader innerHeader = *MsgHeader::Decode(inner, MsgHeader::kSize);
    if (length != kDeviceIdSize + MsgHeader::kSize + innerHeader.length) return StreamStatus::NteBadLen;
    if (innerHeader.code & MsgHeader::kReplyBit) return StreamStatus::NteBadData;
    replyCode = innerHeader.code;

    const std::u16string id = Utf8SlotToUtf16(payload, kDeviceIdSize);
    uint8_t* answer = nullptr;
    size_t answerSize = 0;
    if (uint32_t rc = m_pDevices->TransmitToDevice(id, inner, MsgHeader::kSize + innerHeader.length, arena, answer,
                                                   answerSize)) {
        return rc;
    }
    if (!IsFramedMessage(answer, answerSize)) return StreamStatus::NteFail;
    reply = answer;
    return 0;
}

uint32_t CStreamRequestHandler::TokenRequest(const uint8_t* request, ReplyArena& arena, uint8_t*& reply,
                                             uint16_t& replyCode) {
    const MsgHeader header = *MsgHeader::Decode(request, MsgHeader::kSize);
    const size_t size = MsgHeader::kSize + header.length;
    uint8_t* answer = nullptr;
    size_t answerSize = 0;
    uint32_t rc = 0;
    if (header.code == Contract::kTokenSlotList) {
        rc = m_pTokens->HandleSlotList(request, size, arena, answer, answerSize);
    } else if (header.code == Contract::kTokenSlotState) {
        rc = m_pTokens->HandleSlotState(request, size, arena, answer, answerSize);
    } else {
        // The reply, an error reply too, carries the sub-operation code once the payload holds one.
        if (header.length >= kTokenOperationHeaderSize) {
            replyCode = ReadU16(PayloadOf(request) + kTokenSubOpcodeOffset);
        }
        rc = m_pTokens->HandleTokenOperation(request, size, arena, answer, answerSize);
    }
    if (rc != 0) return rc;
    if (!IsFramedMessage(answer, answerSize)) return StreamStatus::NteFail;
    reply = answer;
    // A successful reply has status 0.
    WriteU32(reply + MsgHeader::kStatusOffset, 0);
    return 0;
}

}  // namespace corvane
