#include "session_test_support.h"

namespace corvane::test {

void RecordingRecords::Add(RecordedEvent e) {
    if (onRecord) onRecord(e);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(e));
}

std::vector<RecordedEvent> RecordingRecords::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<RecordedEvent> RecordingRecords::Of(const std::string& kind) const {
    std::vector<RecordedEvent> out;
    for (auto& e : Events()) {
        if (e.kind == kind) out.push_back(e);
    }
    return out;
}

void RecordingRecords::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}

void RecordingRecords::OnNewSession(const CUserLog& r, const WtsInfoEx& info) {
    Add({"logon", WTS_SESSION_LOGON, r.m_nSession, r.m_strUser, r.m_nDesktop, false, true, info.CurrentTime, {}});
}

void RecordingRecords::OnEnumeratedSession(const CUserLog& r, bool bExisted) {
    Add({"logined", r.m_nState, r.m_nSession, r.m_strUser, r.m_nDesktop, bExisted, true, 0, {}});
}

void RecordingRecords::OnStateChange(const CUserLog& r, int32_t event, const WtsInfoEx* info) {
    Add({"change", event, r.m_nSession, r.m_strUser, r.m_nDesktop, false, info != nullptr,
         info ? info->CurrentTime : 0, {}});
}

void RecordingRecords::OnCardLogon(const CUserLog& r, int32_t event, FileTime currentTime, std::u16string_view serial,
                                   std::u16string_view) {
    Add({"card", event, r.m_nSession, r.m_strUser, r.m_nDesktop, false, true, currentTime, std::u16string(serial)});
}

void RecordingRecords::OnOfflineAction(const CUserLog& r, const CLogonOpt& option, const CDevTovrel& device) {
    Add({"offline", 120 + option.m_nOption, r.m_nSession, r.m_strUser, r.m_nDesktop, false, false, 0, device.GetId()});
}

void RecordingRecords::OnAwayAction(const CUserLog& r, const CLogonOpt&, const CDevTovrel& device) {
    Add({"away", 123, r.m_nSession, r.m_strUser, r.m_nDesktop, false, false, 0, device.GetId()});
}

SessionFixture::SessionFixture() {
    OpenServiceMutexes(tp.Get(), config);
    config.g_strComputerName = u"PC1";
    tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
    monitor = std::make_unique<CSessionMonitor>(tp.Get(), config, devices, records);
}

SessionFixture::~SessionFixture() {
    monitor.reset();
    for (FakeDevice* device : m_heldDevices) DeviceMap::Release(device);
}

void SessionFixture::Notify(int32_t code, uint32_t sessionId) {
    WtsSessionNotification n;
    n.dwSessionId = sessionId;
    monitor->OnSessionChange(static_cast<uint32_t>(code), &n);
}

void SessionFixture::AddSession(uint32_t id, std::u16string user, std::u16string domain, std::u16string station,
                                int32_t state, int32_t flags) {
    WtsInfoEx info = FakeSessions::UserSession(id, std::move(user), std::move(domain), std::move(station), state, flags);
    info.LogonTime = tp.clock.GetSystemTimeAsFileTime() - 60 * kSecond;
    tp.sessions.Set(info);
}

std::unique_ptr<CUserLog> SessionFixture::Record(int32_t sessionId) {
    auto copy = std::make_unique<CUserLog>();
    if (!monitor->Table().CopyFirst([&](const CUserLog& r) { return r.m_nSession == sessionId; }, *copy)) return nullptr;
    return copy;
}

FakeDevice* SessionFixture::AddDevice(std::u16string id) {
    auto* device = new FakeDevice(tp.clock, std::move(id));
    devices.Add(device);
    m_heldDevices.push_back(device);  // the reference a worker would hold
    return device;
}

}  // namespace corvane::test
