// The phone's side of the remote session operations on its passive channel: the request payloads
// it sends (0x3025 session control, 0x3029 delayed shutdown, 0x3024 session times) and the text
// the stand-in prints for each reply ("status=0x%08X" first, then the reply's fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::phone {

inline constexpr uint16_t kSessionTimeCode = 0x3024;
inline constexpr uint16_t kSessionControlCode = 0x3025;
inline constexpr uint16_t kShutdownCode = 0x3029;

// Session control: the short form (key spec 1 implied) when `keySpec` is 1 and `longForm` is
// false, else the long form carrying the key spec.
std::vector<uint8_t> EncodeSessionControl(uint32_t operation, const std::string& container, uint32_t keySpec = 1,
                                          bool longForm = false);
std::vector<uint8_t> EncodeShutdown(uint32_t operation, uint32_t seconds, const std::string& container,
                                    uint32_t keySpec = 1);
std::vector<uint8_t> EncodeSessionTimeQuery(const std::string& upn);

// One line of "name=value" fields for the reply of `code` with `status` and its plain payload;
// fields that the payload does not hold are left out, never read past its end.
std::string DescribeRemoteReply(uint16_t code, uint32_t status, const std::vector<uint8_t>& payload);

}  // namespace corvane::phone
