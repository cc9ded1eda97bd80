#include "platform/posix/posix_csp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/csp_containers.h"

namespace corvane::posix {

namespace {
constexpr uint16_t kPhoneRelay = 0x5101;
constexpr size_t kHeaderSize = 8;
constexpr size_t kDeviceIdSize = 40;
constexpr size_t kMaxPayload = 0xFFFF;
constexpr uint32_t kNteBadData = 0x80090005;
constexpr uint32_t kNteBadLen = 0x80090004;

void PutU16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
}
uint16_t GetU16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | in[1] << 8); }
uint32_t GetU32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

class Connection {
public:
    ~Connection() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Open(uint16_t port, int timeoutMs) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) return false;
        timeval tv {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        const int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    bool SendAll(const uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = send(m_fd, data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool ReceiveExact(uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = recv(m_fd, data, size, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

private:
    int m_fd = -1;
};
}  // namespace

uint32_t PosixCspRelay::Exchange(const std::string& deviceId, uint16_t subOpcode, const std::vector<uint8_t>& data,
                                 std::vector<uint8_t>& reply) const {
    reply.clear();
    if (deviceId.empty() || deviceId.size() > kDeviceIdSize) return kNteBadLen;
    if (data.size() > kMaxPayload - kDeviceIdSize - kHeaderSize) return kNteBadLen;

    const size_t outerLength = kDeviceIdSize + kHeaderSize + data.size();
    std::vector<uint8_t> request(kHeaderSize + outerLength, 0);
    PutU16(request.data(), kPhoneRelay);
    PutU16(request.data() + 2, static_cast<uint16_t>(outerLength));
    std::memcpy(request.data() + kHeaderSize, deviceId.data(), deviceId.size());
    uint8_t* inner = request.data() + kHeaderSize + kDeviceIdSize;
    PutU16(inner, subOpcode);
    PutU16(inner + 2, static_cast<uint16_t>(data.size()));
    if (!data.empty()) std::memcpy(inner + kHeaderSize, data.data(), data.size());

    Connection connection;
    if (!connection.Open(m_port, m_timeoutMs) || !connection.SendAll(request.data(), request.size())) {
        return CspError::NteProviderDllFail;
    }
    uint8_t header[kHeaderSize];
    if (!connection.ReceiveExact(header, sizeof header)) return CspError::NteProviderDllFail;
    const uint16_t code = GetU16(header);
    const uint16_t length = GetU16(header + 2);
    const uint32_t status = GetU32(header + 4);
    std::vector<uint8_t> payload(length);
    if (length && !connection.ReceiveExact(payload.data(), length)) return CspError::NteProviderDllFail;
    if (code != (subOpcode | 0x8000)) return status != 0 ? status : kNteBadData;
    if (status != 0) return status;
    reply = std::move(payload);
    return 0;
}

}  // namespace corvane::posix
