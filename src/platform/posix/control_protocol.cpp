#include "platform/posix/control_protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane::posix {

std::string FormatControlRequest(const ControlRequest& r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "CONTROL %u %u %u\n", r.control, r.eventType, r.sessionId);
    return buf;
}

std::optional<ControlRequest> ParseControlRequest(const std::string& line) {
    ControlRequest r;
    char tail = 0;
    if (std::sscanf(line.c_str(), "CONTROL %u %u %u%c", &r.control, &r.eventType, &r.sessionId, &tail) < 3) {
        return std::nullopt;
    }
    return r;
}

std::string FormatControlReply(const ControlReply& r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u %u\n", r.result, r.state);
    return buf;
}

std::optional<ControlReply> ParseControlReply(const std::string& line) {
    ControlReply r;
    if (std::sscanf(line.c_str(), "%u %u", &r.result, &r.state) != 2) return std::nullopt;
    return r;
}

int SendControl(const std::string& socketPath, const ControlRequest& request, ControlReply& reply, int timeoutMs) {
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) return ENAMETOOLONG;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    const std::string text = FormatControlRequest(request);
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        const int err = errno;
        ::close(fd);
        return err ? err : EIO;
    }
    std::string line;
    char c = 0;
    while (line.size() < 128) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            ::close(fd);
            return ETIMEDOUT;
        }
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n <= 0) break;
        if (c == '\n') break;
        line.push_back(c);
    }
    ::close(fd);
    auto parsed = ParseControlReply(line);
    if (!parsed) return EPROTO;
    reply = *parsed;
    return 0;
}

}  // namespace corvane::posix
