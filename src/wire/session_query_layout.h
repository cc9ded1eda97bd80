// A network phone's session query (Contract::kSessionQuery, 0x3014) and its reply (0xB014). Offsets count from the start
// of the message (header included).
//
// Query: 8 40 device identifier; 48 n principal name, NUL-terminated, ending the message.
// Reply (built from a session record, read by phones): 8 4 state; 12 40 the request's identifier
// bytes; 52 40 host GUID; 92 16 computer name; 108 8 logon time; 116 8 active time; 124 8 locked
// time; 132 n the request's principal name with its NUL.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::SessionQueryLayout {

constexpr size_t kDeviceId = 8;
constexpr size_t kDeviceIdSize = 40;
constexpr size_t kPrincipal = 48;

constexpr size_t kReplyState = 8;
constexpr size_t kReplyDeviceId = 12;
constexpr size_t kReplyHostGuid = 52;
constexpr size_t kReplyHostGuidSize = 40;
constexpr size_t kReplyComputerName = 92;
constexpr size_t kReplyComputerNameSize = 16;
constexpr size_t kReplyLogonTime = 108;
constexpr size_t kReplyActiveTime = 116;
constexpr size_t kReplyLockedTime = 124;
constexpr size_t kReplyPrincipal = 132;
// `length` of a reply is this plus strlen(principal name).
constexpr size_t kReplyBaseLength = 125;

}  // namespace corvane::SessionQueryLayout
