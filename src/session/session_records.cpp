#include "session/session_records.h"

#include "session/event_log_lines.h"

namespace corvane {

namespace {
EventLineSession LineSession(const Configuration& config, const CUserLog& record) {
    return {config.g_strComputerName, record.m_nSession, record.m_strDomain, record.m_strUser};
}

AuditUser Who(const CUserLog& record) { return {record.m_strDomain, record.m_strUser}; }

// The audit row's device; `name` is the caller's copy of the device's name, which a phone's
// rebind may change meanwhile.
AuditDevice Which(const CDevTovrel& device, const std::u16string& name) {
    return {static_cast<int32_t>(device.GetKind()), device.GetId(), name};
}

// "Zentik:<computer>|DOMAIN\\user|"
std::u16string ActionLinePrefix(std::u16string_view computer, const CUserLog& record) {
    std::u16string line = u"Zentik:";
    line += computer;
    line += u'|';
    line += record.m_strDomain;
    line += u'\\';
    line += record.m_strUser;
    line += u'|';
    return line;
}
}  // namespace

CSessionRecords::CSessionRecords(CEventLog& eventLog, CAuditLog& auditLog, const Configuration& config)
    : m_eventLog(eventLog), m_auditLog(auditLog), m_config(config) {}

std::u16string CSessionRecords::FormatOfflineLine(std::u16string_view computer, const CUserLog& record,
                                                  int32_t option) {
    return ActionLinePrefix(computer, record) + (option == LogonOption::LockWhenOffline ? u"Offline Locked"
                                                                                         : u"Offline Logoff");
}

std::u16string CSessionRecords::FormatAwayLine(std::u16string_view computer, const CUserLog& record) {
    return ActionLinePrefix(computer, record) + u"Away Loocked";
}

void CSessionRecords::OnNewSession(const CUserLog& record, const WtsInfoEx& info) {
    m_eventLog.WriteEventLine(FormatLogonLine(LineSession(m_config, record), record.m_nDesktop, record.m_ftLogon));
    m_auditLog.InsertSessionEvent(Who(record), WTS_SESSION_LOGON, info.CurrentTime, info.WinStationName,
                                  record.m_nDesktop);
}

void CSessionRecords::OnEnumeratedSession(const CUserLog& record, bool bExisted) {
    m_eventLog.WriteEventLine(FormatLoginedLine(LineSession(m_config, record), record.m_nState, record.m_nDesktop,
                                                record.m_ftLogon, bExisted));
}

void CSessionRecords::OnStateChange(const CUserLog& record, int32_t event, const WtsInfoEx* info) {
    m_eventLog.WriteEventLine(FormatStateChangeLine(LineSession(m_config, record), event, record.m_nDesktop));
    m_auditLog.InsertSessionEvent(Who(record), event, info ? std::optional<FileTime>(info->CurrentTime) : std::nullopt,
                                  info ? std::u16string_view(info->WinStationName) : record.m_strWinStation,
                                  record.m_nDesktop);
}

void CSessionRecords::OnCardLogon(const CUserLog& record, int32_t event, FileTime currentTime,
                                  std::u16string_view serialText, std::u16string_view readerName) {
    m_auditLog.InsertCardLogon(Who(record), event, currentTime, serialText, readerName);
}

void CSessionRecords::OnOfflineAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) {
    m_eventLog.WriteEventLine(FormatOfflineLine(m_config.g_strComputerName, record, option.m_nOption));
    const std::u16string name = device.GetName();
    m_auditLog.InsertOfflineAction(Who(record), Which(device, name), option.m_nOption, option.m_nDelay);
}

void CSessionRecords::OnAwayAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) {
    m_eventLog.WriteEventLine(FormatAwayLine(m_config.g_strComputerName, record));
    const std::u16string name = device.GetName();
    m_auditLog.InsertAwayAction(Who(record), Which(device, name), option.m_nOption, option.m_nDelay);
}

}  // namespace corvane
