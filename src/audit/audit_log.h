// The seven kinds of audit row: one insert per row shape. Each builds its statement, runs it on
// the audit database and returns whether the row was written; callers may ignore the result (an
// event whose insert fails is simply missing from the table).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "audit/audit_database.h"
#include "config/configuration.h"
#include "platform/clock.h"
#include "platform/types.h"

namespace corvane {

// Whose row it is: the session record's (or a logon report's) domain and user name.
struct AuditUser {
    std::u16string_view strDomain;
    std::u16string_view strUser;
};

// The device a row is about: its kind (1 phone on the local network, 2 phone over Bluetooth,
// 3 smart-card token), id and name.
struct AuditDevice {
    int32_t nKind = 0;
    std::u16string_view strId;
    std::u16string_view strName;
};

class CAuditLog {
public:
    // `config` gives the computer name that marks local accounts, read at every insert.
    CAuditLog(CAuditDatabase& db, IClock& clock, const Configuration& config);

    // A session change (event 1-11). The time is the session's CurrentTime when session
    // information came with the event, else now. Desktop from the window station, else the
    // record's desktop kind.
    bool InsertSessionEvent(const AuditUser& user, int32_t eventType, std::optional<FileTime> currentTime,
                            std::u16string_view winStation, int32_t recordDesktop);
    // The logon component's report of a logon (request kind 1), unlock (2) or re-logon (3).
    bool InsertLogonResult(const AuditUser& user, int32_t requestKind, const AuditDevice& device, uint32_t result,
                           uint32_t resultSub, std::u16string_view errMsg, int32_t logonOption, int32_t logonParam);
    // A confirmed smart-card sign-in: event 101 after a logon, 102 after an unlock.
    bool InsertCardLogon(const AuditUser& user, int32_t eventType, FileTime currentTime, std::u16string_view tokenSerial,
                         std::u16string_view readerName);
    // A session locked (option 1 → 121) or logged off (option 2 → 122) because the device went.
    bool InsertOfflineAction(const AuditUser& user, const AuditDevice& device, int32_t option, int32_t delaySeconds);
    // A session locked because the device's signal stayed weak (123).
    bool InsertAwayAction(const AuditUser& user, const AuditDevice& device, int32_t option, int32_t delaySeconds);
    // A phone's logoff (1 → 111), lock (2 → 112) or disconnect (3 → 113) of its user's session.
    bool InsertPhoneSessionControl(const AuditUser& user, int32_t operation, std::u16string_view phoneId,
                                   std::u16string_view phoneName, uint32_t result, std::u16string_view resultText);
    // A phone's shutdown (1 → 131) or cancel (2 → 132) request; queries are not recorded.
    bool InsertPhoneShutdownRequest(const AuditUser& user, int32_t operation, int32_t delaySeconds,
                                    std::u16string_view phoneId, std::u16string_view phoneName,
                                    std::u16string_view errText);

private:
    bool InsertDeviceRow(const AuditUser& user, int32_t eventType, std::u16string_view eventTime,
                         const AuditDevice& device, uint32_t result, uint32_t resultSub, std::u16string_view errMsg,
                         int32_t logonOption, int32_t logonParam);

    CAuditDatabase& m_db;
    IClock& m_clock;
    const Configuration& m_config;
};

}  // namespace corvane
