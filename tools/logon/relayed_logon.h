// What a phone's logon (0x3021), unlock (0x3022) and re-logon (0x3023) request carries, as this
// product's phone application and logon component agree on it. The service relays the request
// unchanged inside its envelope 0x5102 (40-byte device id, then the request) and never looks
// inside; the logon component reads it to know whom to log on and what to report afterwards.
//
// Payload of the request (after its 8-byte header), little-endian:
//    0  4  logon option   the value the logon component reports as logon_option (for example
//                         1 lock, 2 log off when the phone goes away)
//    4  4  delay          reported as logon_param (seconds before acting)
//    8  .  user name      UTF-8, NUL-terminated
//    .  .  domain         UTF-8, NUL-terminated (NetBIOS name)
//    .  .  device name    UTF-8, NUL-terminated (the phone's display name; may be empty)
// The payload ends with the third NUL; anything else is malformed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channel/logon_relay.h"

namespace corvane::logon {

// The request codes and the envelope's id slot are the relay's own (channel/logon_relay.h).
inline constexpr uint16_t kRelayedLogon = kRelayLogon;
inline constexpr uint16_t kRelayedUnlock = kRelayUnlock;
inline constexpr uint16_t kRelayedRelogon = kRelayRelogon;

struct RelayedLogon {
    uint16_t code = kRelayedLogon;
    int32_t logonOption = 0;
    int32_t delay = 0;
    std::string user;
    std::string domain;
    std::string deviceName;
};

// The whole request message (header and payload).
std::vector<uint8_t> BuildRelayedLogon(const RelayedLogon& request);
// Reads a whole request message; nothing when its framing or payload is malformed.
std::optional<RelayedLogon> ParseRelayedLogon(const uint8_t* message, size_t size);

struct RelayEnvelope {
    std::string deviceId;          // the 40-byte slot up to its NUL
    std::vector<uint8_t> request;  // the request as the phone sent it
};
// Reads the service's envelope 0x5102; nothing when it is not one or does not frame.
std::optional<RelayEnvelope> ParseRelayEnvelope(const uint8_t* message, size_t size);

// The operation number of a logon result report: 1 logon, 2 unlock, 3 re-logon.
uint16_t ReportOperation(uint16_t code);

}  // namespace corvane::logon
