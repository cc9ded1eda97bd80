#include "session/session_monitor.h"

#include <optional>
#include <vector>

#include "audit/audit_event_type.h"
#include "device/clogon_opt.h"
#include "session/session_flags.h"

namespace corvane {

CSessionMonitor::CSessionMonitor(Platform& platform, Configuration& config, DeviceMap& devices,
                                 ISessionRecords& records)
    : m_platform(platform),
      m_config(config),
      m_devices(devices),
      m_records(records),
      m_identity(*platform.sessions, config),
      m_table(config) {}

CSessionMonitor::~CSessionMonitor() {
    std::unique_lock<std::mutex> lock(m_threadMutex);
    m_threadDone.wait(lock, [this] { return m_nThreads == 0; });
}

bool CSessionMonitor::LockFlagsReversed() {
    std::call_once(m_versionOnce, [this] {
        uint32_t major = 0, minor = 0;
        m_platform.sessions->GetOsVersion(major, minor);
        m_bLockFlagsReversed = ReportsLockFlagsReversed(major, minor);
    });
    return m_bLockFlagsReversed;
}

void CSessionMonitor::UnderTable(const std::function<void()>& work) {
    std::unique_lock<std::mutex> order(m_recordsOrderMutex, std::defer_lock);
    std::vector<DeferredRecord> records;
    {
        MutexGuard lock(m_table.Mutex());
        work();
        records.swap(m_arrDeferred);
        // Taken while the table is still held, so that records of later changes wait for these.
        order.lock();
    }
    for (const DeferredRecord& record : records) record(m_records);
}

void CSessionMonitor::OnSessionChange(uint32_t eventCode, const WtsSessionNotification* notification) {
    const bool enumerated = EnumerateSessions();
    bool changed = false;
    if (notification != nullptr) {
        const uint32_t sessionId = notification->dwSessionId;
        WtsInfoEx info;
        const bool hasInfo = m_platform.sessions->QuerySessionInfoEx(sessionId, info) == 0;
        const auto code = static_cast<int32_t>(eventCode);
        // The trusts are asked for here, with no lock held: a domain controller may take its time.
        CIdentity identity = m_identity.WithTrustsNow();
        // The update runs under the table mutex, so that readers copying records never see one
        // half updated; the mutex is recursive, so removal on logoff may take it again.
        UnderTable([&] {
            if (CUserLog* record = m_table.FindBySession(static_cast<int32_t>(sessionId))) {
                changed = ApplySessionEvent(record, hasInfo ? &info : nullptr, code, identity);
            } else if (hasInfo && !info.UserName.empty() && code != WTS_SESSION_LOGOFF) {
                // A session seen for the first time. A logoff of a session without a record
                // leaves nothing behind, so it creates none.
                auto created = CreateRecord(info, code, identity);
                Defer([record = *created, info](ISessionRecords& records) { records.OnNewSession(record, info); });
                m_table.Append(std::move(created));
                changed = true;
            }
        });
    }
    if (enumerated || changed) PublishLogonState();
}

std::unique_ptr<CUserLog> CSessionMonitor::CreateRecord(const WtsInfoEx& info, int32_t code, CIdentity& identity) {
    auto record = std::make_unique<CUserLog>();
    ApplySessionEvent(record.get(), &info, code, identity);
    return record;
}

bool CSessionMonitor::EnumerateSessions() {
    if (m_bEnumerated.load()) return false;
    CIdentity identity = m_identity.WithTrustsNow();
    bool enumerated = false;
    UnderTable([&] {
        if (m_bEnumerated.load()) return;
        std::vector<WtsSessionEntry> sessions;
        if (m_platform.sessions->EnumerateSessions(sessions) != 0) return;
        for (const auto& entry : sessions) {
            WtsInfoEx info;
            if (m_platform.sessions->QuerySessionInfoEx(entry.SessionId, info) != 0) continue;
            if (info.UserName.empty()) continue;
            if (info.SessionState != WtsConnectState::Active && info.SessionState != WtsConnectState::Disconnected) {
                continue;
            }
            if (CUserLog* existing = m_table.FindLastByUser(info.UserName, info.DomainName)) {
                ApplySessionEvent(existing, &info, WTS_NO_EVENT, identity);
                Defer([record = *existing](ISessionRecords& records) { records.OnEnumeratedSession(record, true); });
            } else {
                auto created = CreateRecord(info, WTS_NO_EVENT, identity);
                Defer([record = *created](ISessionRecords& records) { records.OnEnumeratedSession(record, false); });
                m_table.Append(std::move(created));
            }
        }
        m_bEnumerated = true;
        enumerated = true;
    });
    return enumerated;
}

bool CSessionMonitor::ApplySessionEvent(CUserLog* record, const WtsInfoEx* info, int32_t code, CIdentity& identity) {
    const CUserLogChange change = record->Update(info, code, identity, LockFlagsReversed());

    if (change.bConsoleUserLeft) TellDevicesUserLeft(*record);
    if (code != WTS_NO_EVENT) {
        if (record->m_nState == SessionState::Active && record->m_nDesktop == DesktopKind::Console) {
            ConfirmCardSignIn(*record, code, info, identity);
        }
        if (change.bChanged && change.nOldSession != kNoSessionId) {
            std::optional<WtsInfoEx> infoCopy;
            if (info) infoCopy = *info;
            Defer([record = *record, event = change.nEvent, infoCopy](ISessionRecords& records) {
                records.OnStateChange(record, event, infoCopy ? &*infoCopy : nullptr);
            });
        }
    }
    if (code == WTS_SESSION_LOGOFF) {
        TellDevicesUserLeft(*record);
        m_logonState.ClearConsoleUserIf(identity.MakeIdentity(record->m_strUser, record->m_strDomain));
        m_table.Remove(record);
        return true;
    }
    m_logonState.UpdateConsoleUser(
        identity.MakeIdentity(record->m_strUser, record->m_strDomain),
        record->m_nState == SessionState::Active && record->m_nDesktop == DesktopKind::Console);
    if (change.nEvent == WTS_SESSION_LOGON || change.nEvent == WTS_SESSION_UNLOCK) TellDevicesUserBack(*record);
    return change.bChanged;
}

void CSessionMonitor::TellDevicesUserLeft(const CUserLog& record) {
    // The offline and away actions are cancelled for a user who is no longer on the console.
    if (RemoveNetworkLogonOptions) {
        MutexGuard lock(m_config.m_hDevNetMutex);
        RemoveNetworkLogonOptions(record.m_strUser, record.m_strDomain);
    }
    m_devices.ForEach([&](CDevTovrel& device) { device.RemoveLogonOption(record.m_strUser, record.m_strDomain); });
}

void CSessionMonitor::TellDevicesUserBack(CUserLog& record) {
    m_devices.ForEachUntil([&](CDevTovrel& device) {
        return device.SetLogonOptionTime(record.m_strUser, record.m_strDomain, &record.m_ftUpdate);
    });
}

void CSessionMonitor::ConfirmCardSignIn(const CUserLog& record, int32_t code, const WtsInfoEx* info,
                                        CIdentity& identity) {
    const CardSignIn signIn = m_cardSignIn.Get();
    if (TicksSince(m_platform.clock->GetTickCount(), signIn.m_dwTick) > kCardSignInWindowMs) return;
    if (signIn.m_strUpn.empty() || !record.MatchesUpn(signIn.m_strUpn, identity)) return;
    if (signIn.m_strReader.empty() || signIn.m_serial[0] == 0) return;
    if (!m_cardSignIn.ClearUpnIf(signIn.m_strUpn)) return;  // confirmed once only

    const std::u16string deviceId = CardDeviceId(signIn.m_serial);
    if (CDevTovrel* device = m_devices.Find(deviceId)) {
        device->AddLogonOption(record.m_strUser, record.m_strDomain, LogonOption::LockWhenOffline, 0);
        DeviceMap::Release(device);
    } else if (CreateCardReaderDevice) {
        if (CDevTovrel* created = CreateCardReaderDevice(signIn.m_strReader, deviceId)) {
            // The logon result report on the datagram thread may create the same device at the
            // same time.
            AddLogonOptionToCreated(m_devices, created, record.m_strUser, record.m_strDomain,
                                    LogonOption::LockWhenOffline, 0);
        }
    }
    const FileTime when = info ? info->CurrentTime : m_platform.clock->GetSystemTimeAsFileTime();
    const int32_t event = code == WTS_SESSION_LOGON ? EVENT_TYPE_VSC_LOGON : EVENT_TYPE_VSC_UNLOCK;
    Defer([record, event, when, serial = CardSerialText(signIn.m_serial), reader = signIn.m_strReader](
              ISessionRecords& records) { records.OnCardLogon(record, event, when, serial, reader); });
}

}  // namespace corvane
