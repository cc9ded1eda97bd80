// What the session monitor and the session actions record: one text event line per event and,
// for the events that matter, one audit row. An interface, so that the monitor's decisions can
// be checked on their own; CSessionRecords writes them to the event log and the audit database.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/cdev_tovrel.h"
#include "device/clogon_opt.h"
#include "platform/sessions.h"
#include "session/cuser_log.h"

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

}  // namespace corvane
