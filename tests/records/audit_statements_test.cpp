// The statement shapes, quoting and the values derived for a row.
#include <gtest/gtest.h>

#include "audit/audit_statements.h"
#include "audit/sql_quote.h"
#include "token_serial.h"

namespace corvane {
namespace {

TEST(AuditStatementTest, SessionShapeIsWrittenExactly) {
    SessionRowValues row {u"CONTOSO", u"O'Brien", 0, 7, u"2026-01-01 00:00:00", 1, 0, 0};
    EXPECT_EQ(FormatSessionInsert(row),
              "INSERT INTO vsc_log (logon_server, user_name, localuser, event_type, event_time, desktop_type, result, "
              "upload_flag)         VALUES ('CONTOSO', 'O''Brien', 0, 7, '2026-01-01 00:00:00', 1, 0, 0);");
}

TEST(AuditStatementTest, DeviceShapeIsWrittenExactly) {
    DeviceRowValues row {u"PC1",      u"anna", 1,      101,        u"2026-01-01 00:00:00", 2, u"id",
                         u"Anna's",   -5,      0x7FFF, u"it's bad", -70,                    30, 0};
    EXPECT_EQ(FormatDeviceInsert(row),
              "INSERT INTO vsc_log (logon_server, user_name, localuser, event_type, event_time, dev_type, dev_guid, "
              "dev_name, result, result_sub, err_msg, logon_option, logon_param, upload_flag)         VALUES ('PC1', "
              "'anna', 1, 101, '2026-01-01 00:00:00', 2, 'id', 'Anna''s', -5, 32767, 'it''s bad', -70, 30, 0);");
}

TEST(AuditStatementTest, SqlQuoteDoublesEveryApostrophe) {
    const struct {
        std::u16string_view in, out;
    } cases[] = {{u"", u""}, {u"plain", u"plain"}, {u"'", u"''"}, {u"a''b", u"a''''b"}, {u"'x'", u"''x''"},
                 {u"\u4E2D'\u6587", u"\u4E2D''\u6587"}};
    for (const auto& c : cases) EXPECT_EQ(SqlQuote(c.in), c.out);
}

TEST(AuditStatementTest, DesktopFollowsWindowStationElseRecord) {
    const struct {
        std::u16string_view station;
        int32_t record, want;
    } cases[] = {{u"Console", 0, 1}, {u"console", 2, 1}, {u"RDP-Tcp#12", 0, 2}, {u"rdp-tcp", 1, 2},
                 {u"RDP-Tc", 1, 1},  {u"Services", 2, 2}, {u"", 0, 0}};
    for (const auto& c : cases) EXPECT_EQ(DesktopTypeForWinStation(c.station, c.record), c.want);
}

TEST(AuditStatementTest, LocalUserWhenDomainIsThisComputerIgnoringCase) {
    EXPECT_EQ(LocalUserFlag(u"pc1", u"PC1"), 1);
    EXPECT_EQ(LocalUserFlag(u"CONTOSO", u"PC1"), 0);
    EXPECT_EQ(LocalUserFlag(u"", u"PC1"), 0);
}

TEST(AuditStatementTest, TokenIdBecomesItsSerial) {
    const struct {
        const char* label;
        int32_t kind;
        std::u16string id, want;
    } cases[] = {
        {"token GUID", 3, test::TokenGuidText("SN0123456789ABCD"), u"SN0123456789ABCD"},
        {"short serial stops at NUL", 3, test::TokenGuidText("SN42"), u"SN42"},
        {"token id that is no GUID", 3, u"SN0123456789ABCD", u"SN0123456789ABCD"},
        {"phone GUID unchanged", 2, test::TokenGuidText("SN0123456789ABCD"),
         test::TokenGuidText("SN0123456789ABCD")},
    };
    for (const auto& c : cases) EXPECT_EQ(AuditDeviceId(c.kind, c.id), c.want) << c.label;
}

}  // namespace
}  // namespace corvane
