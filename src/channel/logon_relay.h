// The relay of a phone's logon (0x3021), unlock (0x3022) and re-logon (0x3023) request to the
// logon component: the envelope 0x5102 (the device id in a 40-byte slot, then the request as the
// phone sent it) on a short loopback connection of its own to the logon component's stream port;
// the component's one framed reply goes back to the phone. A re-logon that the component answers
// with "console locked by another user" (0x20000022) is repeated every second, up to 30 more times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/configuration.h"
#include "platform/platform.h"
#include "wire/reply_arena.h"

namespace corvane {

inline constexpr uint16_t kRelayLogon = 0x3021;
inline constexpr uint16_t kRelayUnlock = 0x3022;
inline constexpr uint16_t kRelayRelogon = 0x3023;
inline constexpr size_t kRelayDeviceIdSize = 40;
inline constexpr int kRelayTimeoutMs = 10000;
inline constexpr uint32_t kRelayRepeatDelayMs = 1000;
inline constexpr int kRelayMaxRepeats = 30;
// ERROR_NO_MORE_ITEMS: a logon while the logon component is not listening.
inline constexpr uint32_t kRelayNotListening = 259;

class CLogonRelay {
public:
    CLogonRelay(Platform& platform, Configuration& config) : m_platform(platform), m_config(config) {}

    // Relays `request` (header and payload, `size` bytes) for the device `deviceId`. 0 with the
    // component's reply (header and payload, from `arena`), or the failure: 0x20000005 while the
    // component's stream port is unknown; for a refused connection 259 (logon) or 0x20000005
    // (unlock, re-logon); otherwise the Windows Sockets error, 0x80090020 for a request too long
    // for the envelope, 0x8009000E without memory.
    uint32_t RelayLogonRequest(std::u16string_view deviceId, const uint8_t* request, size_t size, ReplyArena& arena,
                               uint8_t*& reply, size_t& replySize);

private:
    uint32_t RelayOnce(const uint8_t* envelope, size_t envelopeSize, uint16_t code, ReplyArena& arena,
                       uint8_t*& reply, size_t& replySize);

    Platform& m_platform;
    Configuration& m_config;
};

}  // namespace corvane
