#include "audit/audit_log.h"

#include <string>

#include "audit/audit_event_type.h"
#include "audit/audit_statements.h"
#include "wire/time_text.h"

namespace corvane {

namespace {
constexpr int32_t kDeviceKindBluetoothPhone = 2;
constexpr int32_t kDeviceKindToken = 3;
constexpr int32_t kUploadFlagNew = 0;
}  // namespace

CAuditLog::CAuditLog(CAuditDatabase& db, IClock& clock, const Configuration& config)
    : m_db(db), m_clock(clock), m_config(config) {}

bool CAuditLog::InsertSessionEvent(const AuditUser& user, int32_t eventType, std::optional<FileTime> currentTime,
                                   std::u16string_view winStation, int32_t recordDesktop) {
    const std::u16string eventTime = currentTime ? FormatFileTime(*currentTime) : FormatUtcNow(m_clock);
    SessionRowValues row;
    row.logonServer = user.strDomain;
    row.userName = user.strUser;
    row.localUser = LocalUserFlag(user.strDomain, m_config.g_strComputerName);
    row.eventType = eventType;
    row.eventTime = eventTime;
    row.desktopType = DesktopTypeForWinStation(winStation, recordDesktop);
    row.result = 0;
    row.uploadFlag = kUploadFlagNew;
    return m_db.ExecAuditUtf8(FormatSessionInsert(row));
}

bool CAuditLog::InsertDeviceRow(const AuditUser& user, int32_t eventType, std::u16string_view eventTime,
                                const AuditDevice& device, uint32_t result, uint32_t resultSub,
                                std::u16string_view errMsg, int32_t logonOption, int32_t logonParam) {
    const std::u16string devGuid = AuditDeviceId(device.nKind, device.strId);
    DeviceRowValues row;
    row.logonServer = user.strDomain;
    row.userName = user.strUser;
    row.localUser = LocalUserFlag(user.strDomain, m_config.g_strComputerName);
    row.eventType = eventType;
    row.eventTime = eventTime;
    row.devType = device.nKind;
    row.devGuid = devGuid;
    row.devName = device.strName;
    row.result = static_cast<int32_t>(result);
    row.resultSub = static_cast<int32_t>(resultSub);
    row.errMsg = errMsg;
    row.logonOption = logonOption;
    row.logonParam = logonParam;
    row.uploadFlag = kUploadFlagNew;
    return m_db.ExecAuditUtf8(FormatDeviceInsert(row));
}

bool CAuditLog::InsertLogonResult(const AuditUser& user, int32_t requestKind, const AuditDevice& device,
                                  uint32_t result, uint32_t resultSub, std::u16string_view errMsg, int32_t logonOption,
                                  int32_t logonParam) {
    return InsertDeviceRow(user, 100 + requestKind, FormatUtcNow(m_clock), device, result, resultSub, errMsg,
                           logonOption, logonParam);
}

bool CAuditLog::InsertCardLogon(const AuditUser& user, int32_t eventType, FileTime currentTime,
                                std::u16string_view tokenSerial, std::u16string_view readerName) {
    const AuditDevice token {kDeviceKindToken, tokenSerial, readerName};
    return InsertDeviceRow(user, eventType, FormatFileTime(currentTime), token, 0, 0, u"", 1, 0);
}

bool CAuditLog::InsertOfflineAction(const AuditUser& user, const AuditDevice& device, int32_t option,
                                    int32_t delaySeconds) {
    return InsertDeviceRow(user, 120 + option, FormatUtcNow(m_clock), device, 0, 0, u"", option, delaySeconds);
}

bool CAuditLog::InsertAwayAction(const AuditUser& user, const AuditDevice& device, int32_t option,
                                 int32_t delaySeconds) {
    return InsertDeviceRow(user, EVENT_TYPE_AWAY_LOCK, FormatUtcNow(m_clock), device, 0, 0, u"", option,
                           delaySeconds);
}

bool CAuditLog::InsertPhoneSessionControl(const AuditUser& user, int32_t operation, std::u16string_view phoneId,
                                          std::u16string_view phoneName, uint32_t result,
                                          std::u16string_view resultText) {
    const AuditDevice phone {kDeviceKindBluetoothPhone, phoneId, phoneName};
    return InsertDeviceRow(user, 110 + operation, FormatUtcNow(m_clock), phone, result, 0, resultText, 0, 0);
}

bool CAuditLog::InsertPhoneShutdownRequest(const AuditUser& user, int32_t operation, int32_t delaySeconds,
                                           std::u16string_view phoneId, std::u16string_view phoneName,
                                           std::u16string_view errText) {
    const AuditDevice phone {kDeviceKindBluetoothPhone, phoneId, phoneName};
    return InsertDeviceRow(user, 130 + operation, FormatUtcNow(m_clock), phone, 0, 0, errText, delaySeconds, 0);
}

}  // namespace corvane
