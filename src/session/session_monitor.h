// The session monitor: keeps the table of logged-on Windows sessions current from the
// session-change notifications, derives who is active on the console, tells the devices when
// that user leaves or returns, confirms card sign-ins and publishes the logon state. One object
// holds all of this state; the service owns it and ExitInstance empties it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "wire/reply_arena.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "platform/platform.h"
#include "session/card_sign_in.h"
#include "session/cuser_log.h"
#include "session/identity.h"
#include "session/logon_state.h"
#include "session/session_records.h"
#include "session/session_table.h"

namespace corvane {

inline constexpr uint16_t kSessionListCode = 0x3105;
inline constexpr uint32_t kPublishPollMs = 50;
inline constexpr uint32_t kPublishWaitMs = 5000;

class CSessionMonitor {
public:
    CSessionMonitor(Platform& platform, Configuration& config, DeviceMap& devices, ISessionRecords& records);
    // Waits for a publication thread that is still running (tests build and drop monitors).
    ~CSessionMonitor();
    CSessionMonitor(const CSessionMonitor&) = delete;
    CSessionMonitor& operator=(const CSessionMonitor&) = delete;

    // The session-change control (event type and notification), on the control handler's thread.
    void OnSessionChange(uint32_t eventCode, const WtsSessionNotification* notification);
    // Fills the table from the existing sessions; only the first successful call does anything.
    bool EnumerateSessions();
    // Publishes the logon state to the devices (on a thread of its own when there are devices).
    void PublishLogonState();
    // The session list message 0x3105 for a phone, allocated from `arena`: 0 or 0x8009000E.
    uint32_t BuildSessionList(uint8_t*& message, size_t& size, ReplyArena& arena);

    std::u16string MakeIdentity(std::u16string_view user, std::u16string_view domain) {
        return m_identity.MakeIdentity(user, domain);
    }
    bool IsKnownUpnDomain(std::u16string_view upn) { return m_identity.IsKnownUpnDomain(upn); }

    CSessionTable& Table() { return m_table; }
    CLogonState& LogonState() { return m_logonState; }
    CCardSignInRecord& CardSignInRecord() { return m_cardSignIn; }
    CIdentity& Identity() { return m_identity; }
    // Empties the table (ExitInstance).
    void FreeSessionTable() { m_table.Clear(); }

    // Where the monitor reaches parts of the service that come with other subsystems. Empty
    // hooks are skipped.
    // Removes the logon option of (user, domain) from every phone of the network device table;
    // called with that table's mutex held.
    std::function<void(std::u16string_view user, std::u16string_view domain)> RemoveNetworkLogonOptions;
    // Constructs the reader device of a smart card (reader name, device id), its worker not yet
    // started; null when it cannot.
    std::function<CDevTovrel*(std::u16string_view reader, std::u16string_view deviceId)> CreateCardReaderDevice;

private:
    // A log line and audit row, written once the session table mutex is free.
    using DeferredRecord = std::function<void(ISessionRecords&)>;

    // Runs `work` under the session table mutex and then writes the records it deferred, in the
    // order it deferred them and in the order of the table's changes, with the mutex free: a slow
    // disk or a busy audit database then never holds up a device worker's offline test.
    void UnderTable(const std::function<void()>& work);
    // Only under the session table mutex. The record is taken as a copy.
    void Defer(DeferredRecord record) { m_arrDeferred.push_back(std::move(record)); }

    // One update of a record with session information (or none) and an event code, with all it
    // entails: log line and audit row, devices, console identity, card sign-in. The record is
    // deleted on logoff. True when its state changed. Under the session table mutex; `identity`
    // holds the trusts asked for before the mutex was taken.
    bool ApplySessionEvent(CUserLog* record, const WtsInfoEx* info, int32_t code, CIdentity& identity);
    std::unique_ptr<CUserLog> CreateRecord(const WtsInfoEx& info, int32_t code, CIdentity& identity);
    bool LockFlagsReversed();
    void TellDevicesUserLeft(const CUserLog& record);
    void TellDevicesUserBack(CUserLog& record);
    void ConfirmCardSignIn(const CUserLog& record, int32_t code, const WtsInfoEx* info, CIdentity& identity);
    void RunPublication();

    Platform& m_platform;
    Configuration& m_config;
    DeviceMap& m_devices;
    ISessionRecords& m_records;
    CIdentity m_identity;
    CSessionTable m_table;
    CLogonState m_logonState;
    CCardSignInRecord m_cardSignIn;
    std::atomic<bool> m_bEnumerated {false};
    std::once_flag m_versionOnce;
    bool m_bLockFlagsReversed = false;  // written once under m_versionOnce
    std::atomic<bool> m_bPublishing {false};
    std::vector<DeferredRecord> m_arrDeferred;  // guarded by the session table mutex
    // Taken before the table mutex is let go and held while the deferred records are written.
    std::mutex m_recordsOrderMutex;
    // Publication threads still running, so that the destructor can wait for them.
    std::mutex m_threadMutex;
    std::condition_variable m_threadDone;
    int m_nThreads = 0;
};

}  // namespace corvane
