// The 8-byte header of every message on the datagram channel, the stream channel and the phone
// channels: u16 code, u16 payload length, u32 status, little-endian. A reply carries the
// request's code OR 0x8000; an error reply is the bare header with length 0 and the error in
// status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "wire/byte_order.h"

namespace corvane {

struct MsgHeader {
    static constexpr size_t kSize = 8;
    static constexpr size_t kCodeOffset = 0;
    static constexpr size_t kLengthOffset = 2;
    static constexpr size_t kStatusOffset = 4;
    static constexpr uint16_t kReplyBit = 0x8000;
    // The most payload one message carries: its length is a u16.
    static constexpr size_t kMaxPayload = 0xFFFF;

    uint16_t code = 0;
    uint16_t length = 0;
    uint32_t status = 0;

    // Reads a header from the first 8 bytes; nothing when fewer are given.
    static std::optional<MsgHeader> Decode(const uint8_t* data, size_t size) {
        if (data == nullptr || size < kSize) return std::nullopt;
        return MsgHeader {ReadU16(data + kCodeOffset), ReadU16(data + kLengthOffset), ReadU32(data + kStatusOffset)};
    }
    void Encode(uint8_t* out) const {
        WriteU16(out + kCodeOffset, code);
        WriteU16(out + kLengthOffset, length);
        WriteU32(out + kStatusOffset, status);
    }
    // A message is well formed when its size on the wire is exactly length + 8.
    bool MatchesSize(size_t wireSize) const { return static_cast<size_t>(length) + kSize == wireSize; }

    static uint16_t ReplyCode(uint16_t requestCode) { return static_cast<uint16_t>(requestCode | kReplyBit); }
    static MsgHeader Reply(uint16_t requestCode, uint16_t payloadLength, uint32_t status = 0) {
        return MsgHeader {ReplyCode(requestCode), payloadLength, status};
    }
    static MsgHeader ErrorReply(uint16_t requestCode, uint32_t error) { return Reply(requestCode, 0, error); }
};

}  // namespace corvane
