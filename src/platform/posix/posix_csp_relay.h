// How the companion CSP's stand-in reaches a Bluetooth phone's token: each token sub-operation
// travels to the service's loopback stream channel as a 0x5101 request (a 40-byte device id,
// then the inner message whose code is the sub-opcode), and the service passes it to the phone
// over the phone's active channel. The reply is the phone's message, its code the sub-opcode OR
// 0x8000. One connection per operation, plain (loopback only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::posix {

inline constexpr uint16_t kCspRelayDefaultPort = 45451;
inline constexpr int kCspRelayTimeoutMs = 30000;

class PosixCspRelay {
public:
    explicit PosixCspRelay(uint16_t port = kCspRelayDefaultPort, int timeoutMs = kCspRelayTimeoutMs)
        : m_port(port), m_timeoutMs(timeoutMs) {}

    // 0 with the reply's payload; the reply's status when it is not 0 (1167 when the service has
    // no such phone); NTE_PROVIDER_DLL_FAIL when the service cannot be reached or the connection
    // ends early; NTE_BAD_DATA when the reply's code is not the sub-opcode's reply or its length
    // does not match; NTE_BAD_LEN when the id or the data do not fit one request.
    uint32_t Exchange(const std::string& deviceId, uint16_t subOpcode, const std::vector<uint8_t>& data,
                      std::vector<uint8_t>& reply) const;

    uint16_t Port() const { return m_port; }

private:
    uint16_t m_port;
    int m_timeoutMs;
};

}  // namespace corvane::posix
