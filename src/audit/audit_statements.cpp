#include "audit/audit_statements.h"

#include "audit/sql_quote.h"
#include "platform/guid_text.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr int32_t kDeviceKindToken = 3;

// A text value as it goes between the quotes of a statement.
std::string Q(std::u16string_view text) { return Utf16ToUtf8(SqlQuote(text)); }
}  // namespace

std::string FormatSessionInsert(const SessionRowValues& row) {
    return FormatUtf8(
        "INSERT INTO vsc_log (logon_server, user_name, localuser, event_type, event_time, desktop_type, result, "
        "upload_flag)         VALUES ('%s', '%s', %d, %d, '%s', %d, %d, %d);",
        Q(row.logonServer).c_str(), Q(row.userName).c_str(), row.localUser, row.eventType, Q(row.eventTime).c_str(),
        row.desktopType, row.result, row.uploadFlag);
}

std::string FormatDeviceInsert(const DeviceRowValues& row) {
    return FormatUtf8(
        "INSERT INTO vsc_log (logon_server, user_name, localuser, event_type, event_time, dev_type, dev_guid, "
        "dev_name, result, result_sub, err_msg, logon_option, logon_param, upload_flag)         VALUES ('%s', '%s', "
        "%d, %d, '%s', %d, '%s', '%s', %d, %d, '%s', %d, %d, %d);",
        Q(row.logonServer).c_str(), Q(row.userName).c_str(), row.localUser, row.eventType, Q(row.eventTime).c_str(),
        row.devType, Q(row.devGuid).c_str(), Q(row.devName).c_str(), row.result, row.resultSub, Q(row.errMsg).c_str(),
        row.logonOption, row.logonParam, row.uploadFlag);
}

int32_t LocalUserFlag(std::u16string_view logonServer, std::u16string_view computerName) {
    return EqualsNoCase(logonServer, computerName) ? 1 : 0;
}

int32_t DesktopTypeForWinStation(std::u16string_view winStation, int32_t recordDesktop) {
    if (EqualsNoCase(winStation, u"Console")) return 1;
    if (winStation.size() >= 7 && EqualsNoCase(winStation.substr(0, 7), u"RDP-Tcp")) return 2;
    return recordDesktop;
}

std::u16string AuditDeviceId(int32_t devType, std::u16string_view deviceId) {
    if (devType != kDeviceKindToken) return std::u16string(deviceId);
    const std::optional<Guid> guid = ParseGuid(deviceId);
    if (!guid) return std::u16string(deviceId);
    // The GUID's 16 bytes as they lie in memory (the first three fields little-endian) are the
    // token serial: 8-bit characters up to the first NUL, at most 16.
    uint8_t bytes[16];
    bytes[0] = static_cast<uint8_t>(guid->data1);
    bytes[1] = static_cast<uint8_t>(guid->data1 >> 8);
    bytes[2] = static_cast<uint8_t>(guid->data1 >> 16);
    bytes[3] = static_cast<uint8_t>(guid->data1 >> 24);
    bytes[4] = static_cast<uint8_t>(guid->data2);
    bytes[5] = static_cast<uint8_t>(guid->data2 >> 8);
    bytes[6] = static_cast<uint8_t>(guid->data3);
    bytes[7] = static_cast<uint8_t>(guid->data3 >> 8);
    for (int i = 0; i < 8; ++i) bytes[8 + i] = guid->data4[i];
    std::u16string serial;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        serial.push_back(static_cast<char16_t>(b));
    }
    return serial;
}

}  // namespace corvane
