// The remote logoff, lock or disconnect of a phone on the network (0x3015) and its reply
// (0xB015), byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/reply_arena.h"

namespace corvane {

namespace RemoteLogoffLayout {
constexpr size_t kOperation = 8;
constexpr size_t kDeviceId = 12;
constexpr size_t kDeviceIdSize = 40;
constexpr size_t kContainer = 52;
constexpr size_t kFixedPayload = 44;  // operation and device id

// Reply.
constexpr size_t kReplyOperation = 8;
constexpr size_t kReplyDeviceId = 12;
constexpr size_t kReplyHostGuid = 52;
constexpr size_t kReplyHostGuidSize = 40;
constexpr size_t kReplyZero = 92;
constexpr size_t kReplyContainerSize = 94;
constexpr size_t kReplyContainer = 96;
constexpr size_t kReplyFixedPayload = 88;
}  // namespace RemoteLogoffLayout

// Operations.
constexpr uint32_t kRemoteLogoff = 1;
constexpr uint32_t kRemoteLock = 2;
constexpr uint32_t kRemoteDisconnect = 3;

struct RemoteLogoffRequest {
    uint32_t operation = 0;
    const uint8_t* deviceIdSlot = nullptr;  // the request's 40 identifier bytes
    std::u16string deviceId;
    std::string containerUtf8;              // without its NUL
    std::u16string container;
};

// False when the size checks fail or a name converts to nothing.
bool DecodeRemoteLogoff(const uint8_t* datagram, size_t size, RemoteLogoffRequest& out);

// The reply with `status` and, in place of the text, one NUL byte: the caller appends the result
// text for a failure. `capacity` bytes are allocated from `arena` (at least the fixed part, the
// container name and one byte); null when the arena refuses.
uint8_t* EncodeRemoteLogoffReply(const RemoteLogoffRequest& request, std::u16string_view hostGuid, uint32_t status,
                                 ReplyArena& arena, size_t capacity, size_t& replySize);

// The offset of the text in a reply to `request`.
size_t RemoteLogoffTextOffset(const RemoteLogoffRequest& request);

}  // namespace corvane
