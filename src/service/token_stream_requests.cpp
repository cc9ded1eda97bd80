#include "service/token_stream_requests.h"

#include <cstring>

#include "crypto/secure_zero.h"
#include "token/p11_error.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane {

namespace {

// The payload of a request message, checked against the message's size.
bool Payload(const uint8_t* request, size_t size, const uint8_t*& payload, uint16_t& length) {
    if (request == nullptr || size < MsgHeader::kSize) return false;
    length = ReadU16(request + MsgHeader::kLengthOffset);
    if (size < MsgHeader::kSize + static_cast<size_t>(length)) return false;
    payload = request + MsgHeader::kSize;
    return true;
}

// The reply message: header (code and length; the channel sets the status) and payload.
uint32_t Frame(const TokenReply& built, ReplyArena& arena, uint8_t*& reply, size_t& replySize) {
    uint8_t* block = arena.Allocate(MsgHeader::kSize + built.wLength);
    if (block == nullptr) return TokenError::NteNoMemory;
    MsgHeader {built.wCode, built.wLength, 0}.Encode(block);
    if (built.wLength) std::memcpy(block + MsgHeader::kSize, built.pPayload, built.wLength);
    reply = block;
    replySize = MsgHeader::kSize + built.wLength;
    return 0;
}

// A request that only reads its payload: the payload taken out of the message, `handle` run on
// it (it fills the reply the token layer built), and that reply framed.
template <typename Handle>
uint32_t Answer(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply, size_t& replySize,
                Handle handle) {
    reply = nullptr;
    replySize = 0;
    const uint8_t* payload = nullptr;
    uint16_t length = 0;
    if (!Payload(request, size, payload, length)) return TokenError::NteBadData;
    TokenReply built;
    const uint32_t status = handle(payload, length, built);
    return status != 0 ? status : Frame(built, arena, reply, replySize);
}

}  // namespace

uint32_t CTokenStreamRequests::HandleSlotList(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                              size_t& replySize) {
    return Answer(request, size, arena, reply, replySize,
                  [&](const uint8_t* payload, uint16_t length, TokenReply& built) {
                      return m_requests.HandleSlotList(payload, length, arena, built);
                  });
}

uint32_t CTokenStreamRequests::HandleSlotState(const uint8_t* request, size_t size, ReplyArena& arena,
                                               uint8_t*& reply, size_t& replySize) {
    return Answer(request, size, arena, reply, replySize,
                  [&](const uint8_t* payload, uint16_t length, TokenReply& built) {
                      return m_requests.HandleSlotState(payload, length, arena, built);
                  });
}

uint32_t CTokenStreamRequests::HandleTokenOperation(const uint8_t* request, size_t size, ReplyArena& arena,
                                                    uint8_t*& reply, size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    const uint8_t* payload = nullptr;
    uint16_t length = 0;
    if (!Payload(request, size, payload, length)) return TokenError::NteBadLen;
    // A writable copy: PINs in it are wiped once used, and the whole copy once the reply is framed.
    uint8_t* copy = arena.Allocate(length ? length : 1);
    if (copy == nullptr) return TokenError::NteNoMemory;
    std::memcpy(copy, payload, length);
    TokenReply built;
    uint32_t status = m_requests.HandleTokenOperation(copy, length, arena, built);
    if (status == 0) status = Frame(built, arena, reply, replySize);
    SecureZero(copy, length);
    return status;
}

}  // namespace corvane
