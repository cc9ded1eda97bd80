// The layouts of a phone's remote session operations on its passive channel, as the phone and
// the service exchange them (payload offsets after the 8-byte header; integers little-endian;
// texts UTF-8 with their NUL):
//
//   0x3025 session control, short form: u32 operation (1 log off, 2 lock, 3 disconnect), then
//          the container name with its NUL; length = 4 + strlen + 1; the key is the key
//          exchange key (1).
//   0x3025 session control, long form: u32 operation, u32 key spec (1 or 2), then the container
//          name with its NUL; length = 8 + strlen + 1. The short form is recognised first.
//   0xB025 reply: u32 operation, then the result text with its NUL when status is not 0, else
//          one NUL byte; length = 4 + text size (at least 5). status carries the result.
//
//   0x3029 delayed shutdown: u32 operation (1 shut down after the delay, 2 cancel, 3 query),
//          u32 delay in seconds, u32 key spec (1 or 2), then the container name with its NUL;
//          length = 12 + strlen + 1.
//   0xB029 reply: u32 operation, u32 seconds (the request's delay, or the remaining time where
//          the outcome reports it), then the result text as for 0xB025; length = 8 + text size.
//
//   0x3024 session time query: the user principal name with its NUL; length = strlen + 1.
//   0xB024 reply: u16 desktop, u16 state, the logon, active and locked times as 15-byte texts
//          "YYYYMMDDhhmmss" with their NUL (15 zero bytes when unknown), then the principal name
//          with its NUL; length = 50 + strlen.
//
// A malformed request (a length that fits neither form, a name without its NUL) is answered with
// the bare error header, status 0x80090004; a key spec other than 1 or 2 with 0x80090005. The
// container is opened as "\\B\{phone's device id}\{container name}".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/reply_arena.h"

namespace corvane {

namespace RemoteOperation {
constexpr uint32_t Logoff = 1;
constexpr uint32_t Lock = 2;
constexpr uint32_t Disconnect = 3;
constexpr uint32_t ShutdownStart = 1;
constexpr uint32_t ShutdownCancel = 2;
constexpr uint32_t ShutdownQuery = 3;
}  // namespace RemoteOperation

inline constexpr size_t kSessionControlTextOffset = 8 + 4;
inline constexpr size_t kShutdownTextOffset = 8 + 8;
// The most result text a reply carries, with its NUL; a longer text is left out.
inline constexpr size_t kRemoteReplyTextRoom = 8192;

struct SessionControlRequest {
    uint32_t operation = 0;
    uint32_t keySpec = 1;
    std::string container;
    bool longForm = false;
};

struct ShutdownRequest {
    uint32_t operation = 0;
    uint32_t delaySeconds = 0;
    uint32_t keySpec = 1;
    std::string container;
};

// Each decoder takes the payload (after the header): 0, 0x80090004 for a bad length, or
// 0x80090005 for a key spec other than 1 or 2.
uint32_t DecodeSessionControl(const uint8_t* payload, size_t length, SessionControlRequest& out);
uint32_t DecodeShutdownRequest(const uint8_t* payload, size_t length, ShutdownRequest& out);
uint32_t DecodeSessionTimeQuery(const uint8_t* payload, size_t length, std::string& upn);

// The replies with room for the longest result text; the text itself is appended by the caller
// (the header's length counts the single NUL until then). Null when the arena refuses.
uint8_t* NewSessionControlReply(ReplyArena& arena, uint32_t operation, uint32_t status, size_t& capacity);
uint8_t* NewShutdownReply(ReplyArena& arena, uint32_t operation, uint32_t seconds, uint32_t status, size_t& capacity);

}  // namespace corvane
