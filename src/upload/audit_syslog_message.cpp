#include "upload/audit_syslog_message.h"

#include <charconv>

#include "audit/audit_event_names.h"

namespace corvane {

namespace {
constexpr std::string_view kNilValue = "-";
constexpr std::string_view kEventPrefix = "EVENT_TYPE_";
constexpr size_t kMaxMsgId = 32;
constexpr size_t kMaxHostName = 255;
constexpr size_t kMaxParamName = 32;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsPrintUsAscii(unsigned char c) { return c >= 33 && c <= 126; }

// The length of the UTF-8 sequence at text[pos], or 0 when it is not a valid one.
size_t Utf8SequenceLength(std::string_view text, size_t pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    size_t length = 0;
    uint32_t min = 0;
    uint32_t cp = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return !text.empty();
}

// A column name as a PARAM-NAME: printable US-ASCII without '=', ' ', ']' or '"'.
bool IsParamName(std::string_view name) {
    if (name.empty() || name.size() > kMaxParamName) return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!IsPrintUsAscii(u) || c == '=' || c == ']' || c == '"') return false;
    }
    return true;
}

void AppendParam(std::string& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    out += EscapeSdParamValue(value);
    out += '"';
}
}  // namespace

std::string EscapeSdParamValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    size_t pos = 0;
    while (pos < value.size()) {
        const size_t length = Utf8SequenceLength(value, pos);
        if (length == 0) {
            out += kReplacement;
            ++pos;
            continue;
        }
        const char c = value[pos];
        if (length == 1 && (c == '"' || c == '\\' || c == ']')) out += '\\';
        out.append(value.substr(pos, length));
        pos += length;
    }
    return out;
}

std::string SyslogTimestamp(std::string_view eventTime) {
    // "YYYY-MM-DD HH:MM:SS"
    if (eventTime.size() != 19) return std::string(kNilValue);
    const std::string_view parts[] = {eventTime.substr(0, 4),  eventTime.substr(5, 2),  eventTime.substr(8, 2),
                                      eventTime.substr(11, 2), eventTime.substr(14, 2), eventTime.substr(17, 2)};
    for (const std::string_view part : parts) {
        if (!AllDigits(part)) return std::string(kNilValue);
    }
    if (eventTime[4] != '-' || eventTime[7] != '-' || eventTime[10] != ' ' || eventTime[13] != ':' ||
        eventTime[16] != ':') {
        return std::string(kNilValue);
    }
    std::string out(eventTime);
    out[10] = 'T';
    out += 'Z';
    return out;
}

std::string AuditMsgId(int event) {
    std::string_view name = AuditEventTypeName(event);
    if (name.empty()) return std::to_string(event);
    if (name.substr(0, kEventPrefix.size()) == kEventPrefix) name.remove_prefix(kEventPrefix.size());
    return std::string(name.substr(0, kMaxMsgId));
}

std::string SyslogHostName(std::string_view name) {
    std::string out;
    for (char c : name.substr(0, kMaxHostName)) {
        out += IsPrintUsAscii(static_cast<unsigned char>(c)) ? c : '_';
    }
    if (out.empty()) out = kNilValue;
    return out;
}

std::string FormatAuditSyslog(const std::vector<std::string>& columns,
                              const std::vector<std::optional<std::string>>& values,
                              const AuditSyslogIdentity& identity) {
    std::string eventTime;
    int event = 0;
    bool hasEvent = false;
    const size_t count = columns.size() < values.size() ? columns.size() : values.size();
    for (size_t i = 0; i < count; ++i) {
        if (!values[i]) continue;
        if (columns[i] == "event_time") eventTime = *values[i];
        if (columns[i] == "event_type") {
            const std::string& text = *values[i];
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), event);
            hasEvent = ec == std::errc() && end == text.data() + text.size();
        }
    }
    std::string out = "<" + std::to_string(kAuditSyslogPri) + ">1 ";
    out += SyslogTimestamp(eventTime);
    out += ' ';
    out += SyslogHostName(identity.strHostName);
    out += ' ';
    out += kAuditAppName;
    out += " - ";
    out += hasEvent ? AuditMsgId(event) : std::string(kNilValue);
    out += " [";
    out += kAuditSdId;
    for (size_t i = 0; i < count; ++i) {
        if (values[i] && IsParamName(columns[i])) AppendParam(out, columns[i], *values[i]);
    }
    AppendParam(out, "host", identity.strHostGuid);
    AppendParam(out, "db", identity.strDbId);
    out += ']';
    return out;
}

}  // namespace corvane
