// One audit row as a syslog message (RFC 5424) for the collector: facility authpriv, severity
// notice, the row's event time in UTC, the computer's name, application "corvane", the event's
// short name as message id, and one structured-data element "corvane@32473" carrying every column
// of the row plus the host GUID ("host") and the database's own id ("db"). host + db + id is the
// key on which a collector drops duplicates.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr std::string_view kAuditSdId = "corvane@32473";
inline constexpr std::string_view kAuditAppName = "corvane";
inline constexpr int kAuditSyslogPri = 10 * 8 + 5;  // authpriv.notice

// Who sends: the computer's name, the host GUID text and the database's id, as UTF-8.
struct AuditSyslogIdentity {
    std::string strHostName;
    std::string strHostGuid;
    std::string strDbId;
};

// A structured-data parameter value with '"', '\' and ']' escaped, and any byte sequence that is
// not UTF-8 replaced by U+FFFD, so that the message stays valid UTF-8.
std::string EscapeSdParamValue(std::string_view value);
// "2026-01-02 03:04:05" → "2026-01-02T03:04:05Z"; "-" (no value) when the text is not that form.
std::string SyslogTimestamp(std::string_view eventTime);
// "SESSION_LOCK" for 7; the number as text for a code without a name; at most 32 characters.
std::string AuditMsgId(int event);
// HOSTNAME: printable US-ASCII without spaces, at most 255 characters; "-" when empty.
std::string SyslogHostName(std::string_view name);

// The whole message. `columns` and `values` are the row's column names and values in the same
// order (a NULL value leaves its parameter out).
std::string FormatAuditSyslog(const std::vector<std::string>& columns,
                              const std::vector<std::optional<std::string>>& values,
                              const AuditSyslogIdentity& identity);

}  // namespace corvane
