// Shared pieces of the session tests: a recorder of what the monitor and the actions record,
// a device that counts what is asked of it, and a fixture with a monitor on the test platform.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/device_map.h"
#include "session/session_actions.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"

namespace corvane::test {

struct RecordedEvent {
    std::string kind;  // "logon", "logined", "change", "card", "offline", "away"
    int32_t event = 0;
    int32_t session = 0;
    std::u16string user;
    int32_t desktop = 0;
    bool existed = false;
    bool hadInfo = false;
    FileTime time = 0;
    std::u16string text;  // card: serial text; offline/away: device id
};

class RecordingRecords final : public ISessionRecords {
public:
    void OnNewSession(const CUserLog& r, const WtsInfoEx& info) override;
    void OnEnumeratedSession(const CUserLog& r, bool bExisted) override;
    void OnStateChange(const CUserLog& r, int32_t event, const WtsInfoEx* info) override;
    void OnCardLogon(const CUserLog& r, int32_t event, FileTime currentTime, std::u16string_view serial,
                     std::u16string_view reader) override;
    void OnOfflineAction(const CUserLog& r, const CLogonOpt& option, const CDevTovrel& device) override;
    void OnAwayAction(const CUserLog& r, const CLogonOpt& option, const CDevTovrel& device) override;

    // Runs before each record is kept, outside the recorder's lock (a disk taking its time).
    std::function<void(const RecordedEvent&)> onRecord;

    std::vector<RecordedEvent> Events() const;
    std::vector<RecordedEvent> Of(const std::string& kind) const;
    void Clear();

private:
    void Add(RecordedEvent e);
    mutable std::mutex m_mutex;
    std::vector<RecordedEvent> m_events;
};

// A device with the base option behaviour and no worker; counts its session reports.
class FakeDevice final : public CDevTovrel {
public:
    FakeDevice(IClock& clock, std::u16string id, uint32_t kind = DeviceKind::BluetoothPhone)
        : CDevTovrel(clock, std::move(id), u"phone", kind) {}
    void StartWorker() override { ++workersStarted; }
    uint32_t Run() override { return 0; }
    uint32_t ReportSessions() override {
        ++reports;
        return 0;
    }
    std::atomic<int> reports {0};
    std::atomic<int> workersStarted {0};
};

class SessionFixture : public ::testing::Test {
protected:
    SessionFixture();
    ~SessionFixture() override;

    void Notify(int32_t code, uint32_t sessionId);
    // A user session in the fake manager.
    void AddSession(uint32_t id, std::u16string user, std::u16string domain, std::u16string station = u"Console",
                    int32_t state = WtsConnectState::Active, int32_t flags = WtsSessionFlags::Unlock);
    // A copy of the record of a session id, or nothing.
    std::unique_ptr<CUserLog> Record(int32_t sessionId);
    // A device in the map, held by the map and by the test.
    FakeDevice* AddDevice(std::u16string id);

    TestPlatform tp;
    Configuration config;
    DeviceMap devices {config};
    RecordingRecords records;
    std::unique_ptr<CSessionMonitor> monitor;
    std::vector<FakeDevice*> m_heldDevices;
};

inline constexpr FileTime kSecond = 10000000;

}  // namespace corvane::test
