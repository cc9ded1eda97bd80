// The words of the phone stand-in's command line and of the commands that `corvane-phone ID ...`
// sends a running phone. The client checks them before it sends anything, and the running phone
// checks them again, since it never trusts its client: a bad word gets a one-line reason, never a
// crash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::phone {

// Signal strengths in dBm, as a BLE radio reports them (one signed byte).
inline constexpr int64_t kMinRssi = -128;
inline constexpr int64_t kMaxRssi = 127;

// Empty when `id` can name a phone (1 to 39 bytes, printable, no '/', not "." or ".."), else the
// reason.
std::string CheckPhoneId(std::string_view id);

std::optional<int16_t> ParseRssi(std::string_view text);
// --option N of a logon: any 32-bit signed option (negative: away lock by signal strength).
std::optional<int32_t> ParseLogonOption(std::string_view text);
// --delay SECONDS of a logon: 0 to 2^31-1.
std::optional<int32_t> ParseLogonDelay(std::string_view text);
// shutdown start SECONDS: 0 to 2^32-1.
std::optional<uint32_t> ParseShutdownSeconds(std::string_view text);

// The words after the ID, verb first (logon USER DOMAIN [--option N] [--delay S], rssi DBM, ...).
// Empty when the command is well formed, else a one-line reason.
std::string CheckPhoneCommand(const std::vector<std::string>& words);

}  // namespace corvane::phone
