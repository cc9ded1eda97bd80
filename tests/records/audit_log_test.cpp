// The seven kinds of audit row, each checked column by column.
#include <functional>

#include "audit_fixture.h"
#include "platform/file_time.h"
#include "platform/guid_text.h"
#include "records_test_support.h"
#include "token_serial.h"

namespace corvane::test {
namespace {

const FileTime kSessionTime = CalendarToFileTime({2025, 6, 0, 1, 12, 34, 56, 0});
constexpr const char* kSessionTimeText = "2025-06-01 12:34:56";
constexpr const char* kNowText = "2026-01-01 00:00:00";  // the fake clock's UTC time
const AuditUser kAnna {u"CONTOSO", u"anna"};
const std::u16string kTokenGuid = TokenGuidText("SN0123456789ABCD");

using Expected = std::map<std::string, std::optional<std::string>>;

struct InsertCase {
    const char* label;
    std::function<bool(CAuditLog&)> insert;
    Expected expected;  // columns not named must be NULL, except id
};
void PrintTo(const InsertCase& c, std::ostream* os) { *os << c.label; }

// The columns every device-shaped row sets, with the values most cases share.
Expected DeviceRow(Expected specific) {
    Expected row = {{"logon_server", "CONTOSO"}, {"user_name", "anna"}, {"localuser", "0"},
                    {"event_time", kNowText},    {"result", "0"},       {"result_sub", "0"},
                    {"err_msg", ""},             {"logon_option", "0"}, {"logon_param", "0"},
                    {"upload_flag", "0"}};
    for (auto& [column, value] : specific) row[column] = value;
    return row;
}

const InsertCase kInserts[] = {
    {"SessionEventWithSessionTimeOnRemoteDesktop",
     [](CAuditLog& log) { return log.InsertSessionEvent(kAnna, 7, kSessionTime, u"RDP-Tcp#3", 0); },
     {{"logon_server", "CONTOSO"}, {"user_name", "anna"}, {"localuser", "0"}, {"event_type", "7"},
      {"event_time", kSessionTimeText}, {"desktop_type", "2"}, {"result", "0"}, {"upload_flag", "0"}}},
    {"SessionEventWithoutSessionInformationTakesNowAndRecordDesktop",
     [](CAuditLog& log) { return log.InsertSessionEvent({u"pc1", u"bob"}, 6, std::nullopt, u"", 1); },
     {{"logon_server", "pc1"}, {"user_name", "bob"}, {"localuser", "1"}, {"event_type", "6"},
      {"event_time", kNowText}, {"desktop_type", "1"}, {"result", "0"}, {"upload_flag", "0"}}},
    {"LogonResultOfPhone",
     [](CAuditLog& log) {
         return log.InsertLogonResult(kAnna, 1, {2, u"phone-7", u"Pixel"}, 0x20000014, 5, u"locked", 2, 60);
     },
     DeviceRow({{"event_type", "101"}, {"dev_type", "2"}, {"dev_guid", "phone-7"}, {"dev_name", "Pixel"},
                {"result", "536870932"}, {"result_sub", "5"}, {"err_msg", "locked"}, {"logon_option", "2"},
                {"logon_param", "60"}})},
    {"RelogonResultOfTokenStoresSerial",
     [](CAuditLog& log) {
         return log.InsertLogonResult(kAnna, 3, {3, kTokenGuid, u"Reader 0"}, 0x80090005, 0, u"", 0, 0);
     },
     DeviceRow({{"event_type", "103"}, {"dev_type", "3"}, {"dev_guid", "SN0123456789ABCD"}, {"dev_name", "Reader 0"},
                {"result", "-2146893819"}})},
    {"CardLogonAfterUnlock",
     [](CAuditLog& log) { return log.InsertCardLogon(kAnna, 102, kSessionTime, u"SN01", u"Reader 0"); },
     DeviceRow({{"event_type", "102"}, {"event_time", kSessionTimeText}, {"dev_type", "3"}, {"dev_guid", "SN01"},
                {"dev_name", "Reader 0"}, {"logon_option", "1"}})},
    {"OfflineLockBySmartCardStoresSerial",
     [](CAuditLog& log) { return log.InsertOfflineAction(kAnna, {3, kTokenGuid, u"Reader 0"}, 1, 30); },
     DeviceRow({{"event_type", "121"}, {"dev_type", "3"}, {"dev_guid", "SN0123456789ABCD"}, {"dev_name", "Reader 0"},
                {"logon_option", "1"}, {"logon_param", "30"}})},
    {"OfflineLogoffOfPhone",
     [](CAuditLog& log) { return log.InsertOfflineAction(kAnna, {1, u"net-1", u"Phone"}, 2, 120); },
     DeviceRow({{"event_type", "122"}, {"dev_type", "1"}, {"dev_guid", "net-1"}, {"dev_name", "Phone"},
                {"logon_option", "2"}, {"logon_param", "120"}})},
    {"AwayLock",
     [](CAuditLog& log) { return log.InsertAwayAction(kAnna, {2, u"phone-7", u"Pixel"}, -70, 10); },
     DeviceRow({{"event_type", "123"}, {"dev_type", "2"}, {"dev_guid", "phone-7"}, {"dev_name", "Pixel"},
                {"logon_option", "-70"}, {"logon_param", "10"}})},
    {"PhoneSessionControl",
     [](CAuditLog& log) {
         return log.InsertPhoneSessionControl(kAnna, 3, u"phone-7", u"Pixel", 0x20000013, u"not found");
     },
     DeviceRow({{"event_type", "113"}, {"dev_type", "2"}, {"dev_guid", "phone-7"}, {"dev_name", "Pixel"},
                {"result", "536870931"}, {"err_msg", "not found"}})},
    {"PhoneShutdownRequest",
     [](CAuditLog& log) { return log.InsertPhoneShutdownRequest(kAnna, 1, 600, u"phone-7", u"Pixel", u""); },
     DeviceRow({{"event_type", "131"}, {"dev_type", "2"}, {"dev_guid", "phone-7"}, {"dev_name", "Pixel"},
                {"logon_option", "600"}})},
    {"PhoneShutdownCancelWithError",
     [](CAuditLog& log) {
         return log.InsertPhoneShutdownRequest(kAnna, 2, 0, u"phone-7", u"Pixel", u"No delayed shutdown");
     },
     DeviceRow({{"event_type", "132"}, {"dev_type", "2"}, {"dev_guid", "phone-7"}, {"dev_name", "Pixel"},
                {"err_msg", "No delayed shutdown"}})},
};

class AuditInsertTest : public AuditFixture, public ::testing::WithParamInterface<InsertCase> {};

TEST_P(AuditInsertTest, WritesOneRowWithTheseColumns) {
    auto db = MakeDb();
    CAuditLog log(*db, platform.clock, config);
    ASSERT_TRUE(GetParam().insert(log));

    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), 1u);
    for (const auto& [column, value] : rows[0]) {
        if (column == "id") continue;
        const auto it = GetParam().expected.find(column);
        const std::optional<std::string> want = it == GetParam().expected.end() ? std::nullopt : it->second;
        EXPECT_EQ(value, want) << column;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, AuditInsertTest, ::testing::ValuesIn(kInserts),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace corvane::test
