#include "channel/stream_token_requests.h"

#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane {

namespace {
constexpr uint16_t kSlotIdSize = 4;

uint16_t PayloadLength(const uint8_t* request) { return ReadU16(request + MsgHeader::kLengthOffset); }
}  // namespace

uint32_t CAbsentTokenRequests::HandleSlotList(const uint8_t* request, size_t, ReplyArena&, uint8_t*& reply,
                                              size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    if (PayloadLength(request) != 0) return TokenStatus::NteBadData;
    return TokenStatus::NteProviderDllFail;
}

uint32_t CAbsentTokenRequests::HandleSlotState(const uint8_t* request, size_t, ReplyArena&, uint8_t*& reply,
                                               size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    if (PayloadLength(request) != kSlotIdSize) return TokenStatus::NteBadData;
    return TokenStatus::NteNotFound;
}

uint32_t CAbsentTokenRequests::HandleTokenOperation(const uint8_t* request, size_t, ReplyArena&, uint8_t*& reply,
                                                    size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    const uint16_t length = PayloadLength(request);
    if (length < kTokenOperationHeaderSize) return TokenStatus::NteBadLen;
    const uint8_t* payload = request + MsgHeader::kSize;
    const uint16_t subOpcode = ReadU16(payload + kTokenSubOpcodeOffset);
    const uint16_t subLength = ReadU16(payload + kTokenSubLengthOffset);
    if (length != static_cast<size_t>(subLength) + kTokenOperationHeaderSize) return TokenStatus::NteBadLen;
    if (subOpcode & MsgHeader::kReplyBit) return TokenStatus::NteBadData;
    return TokenStatus::ScardENoSmartcard;
}

}  // namespace corvane
