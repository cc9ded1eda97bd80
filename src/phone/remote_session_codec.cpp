#include "phone/remote_session_codec.h"

#include <cstring>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr uint16_t kSessionControl = 0x3025;
constexpr uint16_t kShutdown = 0x3029;

// True when the bytes from `offset` to the end are one text and its NUL, and nothing else.
bool TextFills(const uint8_t* payload, size_t length, size_t offset) {
    if (length <= offset) return false;
    const char* text = reinterpret_cast<const char*>(payload + offset);
    return strnlen(text, length - offset) == length - offset - 1;
}

std::string TextAt(const uint8_t* payload, size_t length, size_t offset) {
    return std::string(reinterpret_cast<const char*>(payload + offset), length - offset - 1);
}

bool IsKeySpec(uint32_t keySpec) { return keySpec == 1 || keySpec == 2; }

uint8_t* NewReply(ReplyArena& arena, uint16_t code, size_t fixed, uint32_t status, size_t& capacity) {
    capacity = MsgHeader::kSize + fixed + kRemoteReplyTextRoom;
    uint8_t* reply = arena.Allocate(capacity);
    if (!reply) return nullptr;
    // The fixed fields and one NUL; a result text grows the length.
    MsgHeader::Reply(code, static_cast<uint16_t>(fixed + 1), status).Encode(reply);
    return reply;
}
}  // namespace

uint32_t DecodeSessionControl(const uint8_t* payload, size_t length, SessionControlRequest& out) {
    out = {};
    if (length < 5) return Result::NteBadLen;
    out.operation = ReadU32(payload);
    if (TextFills(payload, length, 4)) {
        out.container = TextAt(payload, length, 4);
        return 0;
    }
    if (!TextFills(payload, length, 8)) return Result::NteBadLen;
    out.longForm = true;
    out.keySpec = ReadU32(payload + 4);
    if (!IsKeySpec(out.keySpec)) return Result::NteBadData;
    out.container = TextAt(payload, length, 8);
    return 0;
}

uint32_t DecodeShutdownRequest(const uint8_t* payload, size_t length, ShutdownRequest& out) {
    out = {};
    if (!TextFills(payload, length, 12)) return Result::NteBadLen;
    out.operation = ReadU32(payload);
    out.delaySeconds = ReadU32(payload + 4);
    out.keySpec = ReadU32(payload + 8);
    if (!IsKeySpec(out.keySpec)) return Result::NteBadData;
    out.container = TextAt(payload, length, 12);
    return 0;
}

uint32_t DecodeSessionTimeQuery(const uint8_t* payload, size_t length, std::string& upn) {
    upn.clear();
    if (!TextFills(payload, length, 0)) return Result::NteBadLen;
    upn = TextAt(payload, length, 0);
    return 0;
}

uint8_t* NewSessionControlReply(ReplyArena& arena, uint32_t operation, uint32_t status, size_t& capacity) {
    uint8_t* reply = NewReply(arena, kSessionControl, 4, status, capacity);
    if (reply) WriteU32(reply + MsgHeader::kSize, operation);
    return reply;
}

uint8_t* NewShutdownReply(ReplyArena& arena, uint32_t operation, uint32_t seconds, uint32_t status,
                          size_t& capacity) {
    uint8_t* reply = NewReply(arena, kShutdown, 8, status, capacity);
    if (reply) {
        WriteU32(reply + MsgHeader::kSize, operation);
        WriteU32(reply + MsgHeader::kSize + 4, seconds);
    }
    return reply;
}

}  // namespace corvane
