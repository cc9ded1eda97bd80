// The control socket between corvane-ctl and the running service: what sc.exe and the service
// control manager exchange on Windows, as one text line each way over a Unix stream socket.
//   request:  "CONTROL <code> <event-type> <session-id>\n"
//   reply:    "<handler-result> <reported-state>\n"
// A question about what the service knows (corvane-ctl devices, sessions) goes the same way:
//   request:  "QUERY <question>\n"
//   reply:    "OK <n>\n" and n lines, or "UNKNOWN\n" for a question the service does not know
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// The most a query reply may hold, so that a confused peer cannot make the tool read forever.
inline constexpr size_t kMaxQueryReplyBytes = 4u << 20;

std::string FormatQueryRequest(const std::string& question);
// The question of a "QUERY" line: one word of letters; nothing for anything else.
std::optional<std::string> ParseQueryRequest(const std::string& line);
// `lines` must not contain line ends (the answer's own codec escapes them).
std::string FormatQueryReply(bool known, const std::vector<std::string>& lines);
// The whole reply as read up to the end of the stream: the answer's lines, or nothing when it is
// malformed (a count that the lines do not match, a missing line end). `known` is false for
// "UNKNOWN" and for the reply of a service that only understands controls.
std::optional<std::vector<std::string>> ParseQueryReply(const std::string& text, bool& known);

// Client side: connects to the socket, sends one request and reads the reply. Returns an errno
// value (ENOENT or ECONNREFUSED when no service listens) or 0.
int SendControl(const std::string& socketPath, const ControlRequest& request, ControlReply& reply,
                int timeoutMs = 20000);
// Asks one question. 0 with the answer's lines; EOPNOTSUPP when the service does not know the
// question; EPROTO for a malformed reply; otherwise an errno value as for SendControl.
int SendQuery(const std::string& socketPath, const std::string& question, std::vector<std::string>& lines,
              int timeoutMs = 20000);

}  // namespace corvane::posix
