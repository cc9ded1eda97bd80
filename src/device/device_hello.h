// The hello a phone sends on its passive channel (0x0101, or 0x0102 for a phone that keeps a
// container list), and the service's reply; the phone device's own hello on its active channel
// and the phone's reply have the same frames, with the roles swapped. Payload offsets,
// little-endian:
//   0 u16 version (2) | 2 40-byte device ID, UTF-8 | 42 u16 offset A of the display name |
//   44 u16 offset B of a second text | 46 u16 key offset | 48 u16 key length | 50 data area
// The offsets count from the data area; the texts are NUL-terminated UTF-8, the key a DER
// RSAPublicKey. The reply has the same frame: the host GUID text, the computer name at offset 0,
// the DNS domain behind it and the wrapped session key last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

namespace HelloLayout {
constexpr size_t kVersion = 0;
constexpr size_t kId = 2;
constexpr size_t kIdSize = 40;
constexpr size_t kOffsetA = 42;
constexpr size_t kOffsetB = 44;
constexpr size_t kKeyOffset = 46;
constexpr size_t kKeyLength = 48;
constexpr size_t kData = 50;
constexpr uint16_t kVersion2 = 2;
// The smallest hello: the fixed part, two empty texts and a few key bytes.
constexpr size_t kMinLength = 59;
}  // namespace HelloLayout

inline constexpr uint16_t kHelloCode = 0x0101;
inline constexpr uint16_t kHelloContainerListCode = 0x0102;

// A hello that passed every check. The texts are the raw UTF-8 bytes without their NUL.
struct DeviceHelloRequest {
    std::u16string deviceId;
    std::u16string name;    // text A
    std::u16string textB;   // converted, not used
    const uint8_t* key = nullptr;  // points into the payload
    uint16_t keyLength = 0;
};

// Checks a hello payload: 0 with the fields, or 0x80090005 (malformed length, ID, offsets,
// overlaps or texts) or 0x8009000A (version). Every offset is checked against the payload before
// anything is read; a text must end inside the payload or at its very end.
uint32_t ParseDeviceHello(const uint8_t* payload, size_t length, DeviceHelloRequest& out);

// The plain reply payload: version 2, the host GUID text (all zero when longer than 40 bytes),
// computer name and DNS domain with their NULs, then the wrapped key.
std::vector<uint8_t> BuildDeviceHelloReply(std::u16string_view hostGuid, std::u16string_view computerName,
                                           std::u16string_view dnsDomain, const uint8_t* wrappedKey,
                                           size_t wrappedKeyLength);

// The phone's side: the request payload for a hello, and the parts of a reply.
std::vector<uint8_t> BuildDeviceHelloRequest(std::string_view deviceId, std::string_view name, std::string_view textB,
                                             const uint8_t* publicKeyDer, size_t publicKeyLength);
struct DeviceHelloReply {
    std::string hostGuid;
    std::string computerName;
    std::string dnsDomain;
    const uint8_t* wrappedKey = nullptr;
    uint16_t wrappedKeyLength = 0;
};
// 0 or 0x80090005 when the reply's frame does not hold together.
uint32_t ParseDeviceHelloReply(const uint8_t* payload, size_t length, DeviceHelloReply& out);

}  // namespace corvane
