// How the BLE library stand-in and the phone stand-in meet: Unix-domain sockets under the state
// root. The library listens on <root>/run/corvane/ble/host.sock while its BLE service runs; a
// phone listens on .../phone-<id>.sock. Every connection starts with a 48-byte introduction: the
// magic "VXB1", a kind byte, three zero bytes and the phone's 40-byte device ID (NUL-padded).
//   'P' phone -> library: the phone's passive channel (the phone connects)
//   'S' phone -> library: signal samples, one little-endian i16 dBm value per sample
//   'A' library -> phone: the computer opens its active channel to the phone
//   'C' tool -> phone: a command from the command line (see tools/phone)
// After the introduction the bytes of a channel are the channel's bytes, nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace corvane::vxble {

inline constexpr size_t kIntroSize = 48;
inline constexpr size_t kIntroIdSize = 40;
inline constexpr char kKindPassive = 'P';
inline constexpr char kKindSignal = 'S';
inline constexpr char kKindActive = 'A';
inline constexpr char kKindCommand = 'C';

inline std::string LinkDir(const std::string& root) { return root + "/run/corvane/ble"; }
inline std::string HostSocketPath(const std::string& root) { return LinkDir(root) + "/host.sock"; }
// The ID with every character outside [A-Za-z0-9._-] replaced, so that it makes a file name.
inline std::string PhoneSocketPath(const std::string& root, const std::string& id) {
    std::string safe;
    for (char c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        safe.push_back(plain ? c : '_');
    }
    return LinkDir(root) + "/phone-" + safe + ".sock";
}

inline void BuildIntro(uint8_t* out, char kind, const std::string& id) {
    std::memset(out, 0, kIntroSize);
    std::memcpy(out, "VXB1", 4);
    out[4] = static_cast<uint8_t>(kind);
    std::memcpy(out + 8, id.data(), id.size() < kIntroIdSize ? id.size() : kIntroIdSize - 1);
}

// False when the bytes are no introduction.
inline bool ParseIntro(const uint8_t* in, char& kind, std::string& id) {
    if (std::memcmp(in, "VXB1", 4) != 0) return false;
    kind = static_cast<char>(in[4]);
    const char* slot = reinterpret_cast<const char*>(in + 8);
    id.assign(slot, strnlen(slot, kIntroIdSize));
    return true;
}

}  // namespace corvane::vxble
