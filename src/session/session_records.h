// What the session monitor and the session actions record: one text event line per event and,
// for the events that matter, one audit row. An interface, so that the monitor's decisions can
// be checked on their own; CSessionRecords writes them to the event log and the audit database.
#pragma once

#include <cstdint>
#include <string_view>

#include "audit/audit_log.h"
#include "config/configuration.h"
#include "device/cdev_tovrel.h"
#include "device/clogon_opt.h"
#include "platform/sessions.h"
#include "session/cuser_log.h"
#include "session/event_log.h"

namespace corvane {

class ISessionRecords {
public:
    virtual ~ISessionRecords() = default;
    // A session seen for the first time by a notification: the "Logon" line and the session
    // event row for event 5.
    virtual void OnNewSession(const CUserLog& record, const WtsInfoEx& info) = 0;
    // A session found by the start-up enumeration: the "Logined" line, ending in "Update" for a
    // record that existed already or "Add" for a new one. No audit row.
    virtual void OnEnumeratedSession(const CUserLog& record, bool bExisted) = 0;
    // A change of state: the state-change line and the session event row for the reported event.
    // `info` is null when the session could not be queried.
    virtual void OnStateChange(const CUserLog& record, int32_t event, const WtsInfoEx* info) = 0;
    // A confirmed card sign-in: event 101 after a logon, 102 after an unlock.
    virtual void OnCardLogon(const CUserLog& record, int32_t event, FileTime currentTime,
                             std::u16string_view serialText, std::u16string_view readerName) = 0;
    // A session locked or logged off because its device went away.
    virtual void OnOfflineAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) = 0;
    // A session locked because its phone's signal stayed weak.
    virtual void OnAwayAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) = 0;
};

// The records as the service keeps them: lines in the text event log, rows in the audit database.
class CSessionRecords final : public ISessionRecords {
public:
    // `config` gives the computer name of the lines, read at every line.
    CSessionRecords(CEventLog& eventLog, CAuditLog& auditLog, const Configuration& config);

    void OnNewSession(const CUserLog& record, const WtsInfoEx& info) override;
    void OnEnumeratedSession(const CUserLog& record, bool bExisted) override;
    void OnStateChange(const CUserLog& record, int32_t event, const WtsInfoEx* info) override;
    void OnCardLogon(const CUserLog& record, int32_t event, FileTime currentTime, std::u16string_view serialText,
                     std::u16string_view readerName) override;
    void OnOfflineAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) override;
    void OnAwayAction(const CUserLog& record, const CLogonOpt& option, const CDevTovrel& device) override;

    // "Zentik:<computer>|DOMAIN\user|Offline Locked" or "...|Offline Logoff".
    static std::u16string FormatOfflineLine(std::u16string_view computer, const CUserLog& record, int32_t option);
    // "Zentik:<computer>|DOMAIN\user|Away Loocked" (the spelling the log has always had).
    static std::u16string FormatAwayLine(std::u16string_view computer, const CUserLog& record);

private:
    CEventLog& m_eventLog;
    CAuditLog& m_auditLog;
    const Configuration& m_config;
};

}  // namespace corvane
