// The control socket between corvane-ctl and the running service: what sc.exe and the service
// control manager exchange on Windows, as one text line each way over a Unix stream socket.
//   request:  "CONTROL <code> <event-type> <session-id>\n"
//   reply:    "<handler-result> <reported-state>\n"
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::posix {

struct ControlRequest {
    uint32_t control = 0;
    uint32_t eventType = 0;
    uint32_t sessionId = 0;
};

struct ControlReply {
    uint32_t result = 0;
    uint32_t state = 0;
};

std::string FormatControlRequest(const ControlRequest& request);
std::optional<ControlRequest> ParseControlRequest(const std::string& line);
std::string FormatControlReply(const ControlReply& reply);
std::optional<ControlReply> ParseControlReply(const std::string& line);

// Client side: connects to the socket, sends one request and reads the reply. Returns an errno
// value (ENOENT or ECONNREFUSED when no service listens) or 0.
int SendControl(const std::string& socketPath, const ControlRequest& request, ControlReply& reply,
                int timeoutMs = 20000);

}  // namespace corvane::posix
