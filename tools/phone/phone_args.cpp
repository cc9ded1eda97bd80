#include "phone_args.h"

#include "wire/program_args.h"

namespace corvane::phone {

namespace {
constexpr size_t kMaxIdBytes = 39;  // the hello's 40-byte id field keeps a terminating NUL

bool IsLogon(const std::string& verb) { return verb == "logon" || verb == "unlock" || verb == "relogon"; }
bool IsSessionControl(const std::string& verb) {
    return verb == "lock" || verb == "logoff" || verb == "disconnect" || verb == "times";
}
}  // namespace

std::string CheckPhoneId(std::string_view id) {
    if (id.empty() || id.size() > kMaxIdBytes) return "the phone ID must have 1 to 39 bytes";
    if (id == "." || id == "..") return "the phone ID cannot be '.' or '..'";
    for (char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) return "the phone ID cannot hold '/' or control characters";
    }
    return {};
}

std::optional<int16_t> ParseRssi(std::string_view text) {
    const auto value = ParseInteger(text, kMinRssi, kMaxRssi);
    if (!value) return std::nullopt;
    return static_cast<int16_t>(*value);
}

std::optional<int32_t> ParseLogonOption(std::string_view text) {
    const auto value = ParseInteger(text, INT32_MIN, INT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
}

std::optional<int32_t> ParseLogonDelay(std::string_view text) {
    const auto value = ParseInteger(text, 0, INT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
}

std::optional<uint32_t> ParseShutdownSeconds(std::string_view text) {
    const auto value = ParseInteger(text, 0, UINT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::string CheckPhoneCommand(const std::vector<std::string>& words) {
    if (words.empty()) return "no command";
    const std::string& verb = words[0];
    const size_t n = words.size();
    if (verb == "away" || verb == "back" || verb == "sessions" || verb == "status") {
        return n == 1 ? "" : verb + " takes no arguments";
    }
    if (verb == "rssi") {
        if (n != 2) return "usage: rssi DBM";
        return ParseRssi(words[1]) ? "" : "bad DBM '" + words[1] + "' (a whole number from -128 to 127)";
    }
    if (IsLogon(verb)) {
        if (n < 3) return "usage: " + verb + " USER DOMAIN [--option N] [--delay SECONDS]";
        for (size_t i = 3; i < n; i += 2) {
            if (i + 1 >= n) return words[i] + " needs a value";
            if (words[i] == "--option") {
                if (!ParseLogonOption(words[i + 1])) return "bad --option '" + words[i + 1] + "' (a 32-bit number)";
            } else if (words[i] == "--delay") {
                if (!ParseLogonDelay(words[i + 1])) {
                    return "bad --delay '" + words[i + 1] + "' (seconds from 0 to 2147483647)";
                }
            } else {
                return "unknown option '" + words[i] + "'";
            }
        }
        return {};
    }
    if (IsSessionControl(verb)) return n == 2 ? "" : "usage: " + verb + (verb == "times" ? " UPN" : " CONTAINER");
    if (verb == "shutdown") {
        if (n == 4 && words[1] == "start") {
            return ParseShutdownSeconds(words[2]) ? "" : "bad SECONDS '" + words[2] + "' (0 to 4294967295)";
        }
        if (n == 3 && (words[1] == "cancel" || words[1] == "query")) return {};
        return "usage: shutdown start SECONDS CONTAINER | shutdown cancel|query CONTAINER";
    }
    return "unknown command '" + verb + "'";
}

}  // namespace corvane::phone
