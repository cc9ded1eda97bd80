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

namespace {
// Connects to the service's control socket and sends one request line; the connected socket is
// left in fd. Returns 0 or the errno of the step that failed (the socket is then closed).
int ConnectAndSend(const std::string& socketPath, const std::string& text, int& fd) {
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) return ENAMETOOLONG;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    int err = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        err = errno;
    } else if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        err = errno ? errno : EIO;
    }
    if (err != 0) {
        ::close(fd);
        fd = -1;
    }
    return err;
}
}  // namespace

int SendControl(const std::string& socketPath, const ControlRequest& request, ControlReply& reply, int timeoutMs) {
    int fd = -1;
    if (const int err = ConnectAndSend(socketPath, FormatControlRequest(request), fd)) return err;
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

std::string FormatQueryRequest(const std::string& question) { return "QUERY " + question + "\n"; }

std::optional<std::string> ParseQueryRequest(const std::string& line) {
    constexpr std::string_view kVerb = "QUERY ";
    if (line.size() <= kVerb.size() || line.compare(0, kVerb.size(), kVerb) != 0) return std::nullopt;
    std::string question = line.substr(kVerb.size());
    while (!question.empty() && (question.back() == '\n' || question.back() == '\r')) question.pop_back();
    if (question.empty() || question.size() > 32) return std::nullopt;
    for (char c : question) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) return std::nullopt;
    }
    return question;
}

std::string FormatQueryReply(bool known, const std::vector<std::string>& lines) {
    if (!known) return "UNKNOWN\n";
    std::string text = "OK " + std::to_string(lines.size()) + "\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::optional<std::vector<std::string>> ParseQueryReply(const std::string& text, bool& known) {
    known = false;
    const size_t end = text.find('\n');
    if (end == std::string::npos) return std::nullopt;
    const std::string head = text.substr(0, end);
    if (head == "UNKNOWN") return std::vector<std::string> {};
    // A service that knows only controls answers a question as a malformed control.
    if (ParseControlReply(head) && head.compare(0, 3, "OK ") != 0) return std::vector<std::string> {};
    if (head.size() < 4 || head.compare(0, 3, "OK ") != 0 || head.size() > 3 + 9) return std::nullopt;
    size_t count = 0;
    for (size_t i = 3; i < head.size(); ++i) {
        if (head[i] < '0' || head[i] > '9') return std::nullopt;
        count = count * 10 + static_cast<size_t>(head[i] - '0');
    }
    std::vector<std::string> lines;
    size_t start = end + 1;
    while (start < text.size()) {
        const size_t next = text.find('\n', start);
        if (next == std::string::npos || lines.size() == count) return std::nullopt;
        lines.push_back(text.substr(start, next - start));
        start = next + 1;
    }
    if (lines.size() != count) return std::nullopt;
    known = true;
    return lines;
}

int SendQuery(const std::string& socketPath, const std::string& question, std::vector<std::string>& lines,
              int timeoutMs) {
    int fd = -1;
    if (const int err = ConnectAndSend(socketPath, FormatQueryRequest(question), fd)) return err;
    auto fail = [fd](int err) {
        ::close(fd);
        return err;
    };
    // The service writes its whole answer and closes the connection.
    std::string text;
    char buffer[4096];
    while (true) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return fail(ETIMEDOUT);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxQueryReplyBytes) return fail(EPROTO);
    }
    ::close(fd);
    bool known = false;
    auto parsed = ParseQueryReply(text, known);
    if (!parsed) return EPROTO;
    if (!known) return EOPNOTSUPP;
    lines = std::move(*parsed);
    return 0;
}

}  // namespace corvane::posix
