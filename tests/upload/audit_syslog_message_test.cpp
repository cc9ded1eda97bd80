#include "upload/audit_syslog_message.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

struct EscapeCase {
    const char* label;
    std::string in;
    std::string out;
};

TEST(SdParamValue, EscapesQuoteBackslashBracketAndReplacesBadUtf8) {
    const EscapeCase cases[] = {
        {"plain", "alice", "alice"},
        {"quote", "O\"Neil", "O\\\"Neil"},
        {"backslash", "DOM\\alice", "DOM\\\\alice"},
        {"closing bracket", "a]b", "a\\]b"},
        {"opening bracket stays", "a[b", "a[b"},
        {"all three", "\"\\]", "\\\"\\\\\\]"},
        {"apostrophe and equals stay", "it's a=b", "it's a=b"},
        {"two-byte UTF-8", "J\xC3\xB6rg", "J\xC3\xB6rg"},
        {"four-byte UTF-8", "\xF0\x9F\x94\x91", "\xF0\x9F\x94\x91"},
        {"lone continuation byte", "a\x80z", "a\xEF\xBF\xBDz"},
        {"truncated sequence", "a\xC3", "a\xEF\xBF\xBD"},
        {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"line feed stays", "a\nb", "a\nb"},
        {"empty", "", ""},
    };
    for (const EscapeCase& c : cases) EXPECT_EQ(EscapeSdParamValue(c.in), c.out) << c.label;
}

TEST(SyslogFields, TimestampMsgIdAndHostName) {
    EXPECT_EQ(SyslogTimestamp("2026-01-02 03:04:05"), "2026-01-02T03:04:05Z");
    EXPECT_EQ(SyslogTimestamp("2026-01-02T03:04:05"), "-");
    EXPECT_EQ(SyslogTimestamp("2026-1-02 03:04:05"), "-");
    EXPECT_EQ(SyslogTimestamp(""), "-");
    EXPECT_EQ(AuditMsgId(7), "SESSION_LOCK");
    EXPECT_EQ(AuditMsgId(9), "SESSION_REMOTE_CONTROL");
    EXPECT_EQ(AuditMsgId(101), "VSC_LOGON");
    EXPECT_EQ(AuditMsgId(999), "999");
    EXPECT_EQ(SyslogHostName("PC-01"), "PC-01");
    EXPECT_EQ(SyslogHostName("MY PC"), "MY_PC");
    EXPECT_EQ(SyslogHostName(""), "-");
}

TEST(AuditSyslogMessage, CarriesEveryColumnHostAndDb) {
    const std::vector<std::string> columns = {"id", "logon_server", "user_name", "event_type", "event_time",
                                              "err_msg", "upload_time"};
    const std::vector<std::optional<std::string>> values = {"42", "DOM", "o\"neil]", "7", "2026-03-04 05:06:07",
                                                            "", std::nullopt};
    const AuditSyslogIdentity identity {"PC-01", "{0A1B2C3D-0000-1111-2222-333344445555}", "f00d"};
    EXPECT_EQ(FormatAuditSyslog(columns, values, identity),
              "<85>1 2026-03-04T05:06:07Z PC-01 corvane - SESSION_LOCK [corvane@32473 id=\"42\" "
              "logon_server=\"DOM\" user_name=\"o\\\"neil\\]\" event_type=\"7\" event_time=\"2026-03-04 05:06:07\" "
              "err_msg=\"\" host=\"{0A1B2C3D-0000-1111-2222-333344445555}\" db=\"f00d\"]");
}

}  // namespace
}  // namespace corvane
