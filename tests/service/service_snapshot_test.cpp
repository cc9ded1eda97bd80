// What the service tells corvane-ctl it knows: the copy of its tables taken for "devices" and
// "sessions", the text lines that carry it over the control socket, and their reading back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/cdev_tovrel.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/file_time.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "service/service_snapshot.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

// A device of the map without a worker.
class IdleDevice final : public CDevTovrel {
public:
    IdleDevice(IClock& clock, std::u16string id) : CDevTovrel(clock, std::move(id), u"Reader 1", DeviceKind::CardReader) {}
    void StartWorker() override {}
    uint32_t Run() override { return 0; }
};

TEST(ServiceSnapshotTest, EveryRecordSurvivesTheLinesWithAwkwardTexts) {
    ServiceSnapshot s;
    s.now = 1796978574;
    s.consoleUser = "anna@CONTOSO";
    SnapshotDevice lan;
    lan.kind = 1;
    lan.id = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
    lan.name = "Anna's\tphone\\n\r\n \xE6\x89\x8B\xE6\x9C\xBA";  // tab, backslash, line ends, UTF-8
    lan.paired = true;
    lan.address = "192.0.2.7";
    lan.port = 45452;
    lan.value = 0xFFFFFFFF;
    lan.lastSeen = 1796978570;
    lan.options.push_back({"anna", "CONTOSO", -70, 10, true});
    SnapshotDevice ble;
    ble.kind = 2;
    ble.id = "carol-phone";
    ble.connected = ble.present = ble.keyed = ble.haveRssi = true;
    ble.rssi = -58;
    ble.lostForMs = 0;
    SnapshotDevice card;
    card.kind = 3;
    card.id = "{31313030-3232-3333-3434-353536363737}";
    card.name = "Virtual PCD 00 00";
    card.serial = "0011223344556677";
    card.removed = true;
    card.removedForMs = 1500;
    card.options.push_back({"", "", 1, 0, false});  // empty texts stay empty fields
    s.devices = {lan, ble, card};
    s.sessions.push_back({3, "bob", "CORP", "RDP-Tcp#1", 7, 2, "bob@corp.example", 133000000000000000, 0, 1});

    const auto decoded = DecodeSnapshot(EncodeSnapshot(s));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->now, s.now);
    EXPECT_EQ(decoded->consoleUser, s.consoleUser);
    ASSERT_EQ(decoded->devices.size(), 3u);
    const SnapshotDevice& l = decoded->devices[0];
    EXPECT_EQ(l.kind, 1u);
    EXPECT_EQ(l.name, lan.name);
    EXPECT_TRUE(l.paired);
    EXPECT_EQ(l.address, "192.0.2.7");
    EXPECT_EQ(l.port, 45452);
    EXPECT_EQ(l.value, 0xFFFFFFFFu);
    EXPECT_EQ(l.lastSeen, 1796978570);
    ASSERT_EQ(l.options.size(), 1u);
    EXPECT_EQ(l.options[0].option, -70);
    EXPECT_TRUE(l.options[0].handled);
    const SnapshotDevice& b = decoded->devices[1];
    EXPECT_TRUE(b.connected && b.present && b.keyed && b.haveRssi && !b.closed);
    EXPECT_EQ(b.rssi, -58);
    const SnapshotDevice& c = decoded->devices[2];
    EXPECT_EQ(c.serial, "0011223344556677");
    EXPECT_TRUE(c.removed);
    EXPECT_EQ(c.removedForMs, 1500u);
    ASSERT_EQ(c.options.size(), 1u);
    EXPECT_EQ(c.options[0].user, "");
    ASSERT_EQ(decoded->sessions.size(), 1u);
    EXPECT_EQ(decoded->sessions[0].station, "RDP-Tcp#1");
    EXPECT_EQ(decoded->sessions[0].logon, 133000000000000000);
    EXPECT_EQ(decoded->sessions[0].locked, 1);
    // A line end inside a text never splits the record.
    for (const std::string& line : EncodeSnapshot(s)) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
}

TEST(ServiceSnapshotTest, MalformedLinesAreRefused) {
    const struct {
        const char* label;
        std::vector<std::string> lines;
    } cases[] = {
        {"unknown record", {"phone\tx"}},
        {"empty line", {""}},
        {"option before any device", {"option\tanna\tCORP\t1\t0\t0"}},
        {"field missing", {"lan\tid\tname\t0\t127.0.0.1\t45452\t0"}},
        {"field too many", {"now\t1\t2"}},
        {"port out of range", {"lan\tid\tname\t0\t127.0.0.1\t65536\t0\t1"}},
        {"rssi out of range", {"ble\tid\tn\t0\t1\t1\t0\t0\t0\t1\t-40000"}},
        {"flag not 0 or 1", {"card\tid\tr\ts\t2\t0"}},
        {"number with junk", {"now\t12x"}},
        {"empty number", {"now\t"}},
        {"stray backslash", {"console\tanna\\"}},
        {"unknown escape", {"console\tan\\xna"}},
    };
    for (const auto& c : cases) EXPECT_FALSE(DecodeSnapshot(c.lines)) << c.label;
    EXPECT_TRUE(DecodeSnapshot({}));
}

// The service as it is wired answers the questions through its service host.
class SnapshotScene : public ::testing::Test {
protected:
    SnapshotScene() {
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active,
                                                  WtsSessionFlags::Unlock));
        WtsSessionNotification n;
        n.dwSessionId = 1;
        objects.SessionMonitor().OnSessionChange(WTS_SESSION_LOGON, &n);
    }
    ~SnapshotScene() override {
        objects.Devices().Clear();
        if (m_device) DeviceMap::Release(m_device);
    }

    ServiceSnapshot Ask(const char* question) {
        std::vector<std::string> lines;
        EXPECT_TRUE(tp.serviceHost.Ask(question, lines));
        auto decoded = DecodeSnapshot(lines);
        EXPECT_TRUE(decoded);
        return decoded.value_or(ServiceSnapshot {});
    }

    TestPlatform tp;
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};
    IdleDevice* m_device = nullptr;
};

TEST_F(SnapshotScene, DevicesListTheNetworkPhonesAndTheMapDevicesWithTheirOptions) {
    app.Config().g_pairedDevices = {u"{6b29fc40-ca47-1067-b31d-00dd010662da}"};
    objects.NetDevices().AnnounceNetDevice(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", u"Pixel", 45452, 7, u"192.0.2.7");
    objects.NetDevices().AnnounceNetDevice(u"{FFFFFFFF-0000-0000-0000-000000000001}", u"Other", 45452, 0, u"192.0.2.8");
    ASSERT_TRUE(objects.NetDevices().AddNetLogonOption(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", u"anna",
                                                       u"CONTOSO", LogonOption::LogoffWhenOffline, 30));
    m_device = new IdleDevice(tp.clock, u"{31313030-3232-3333-3434-353536363737}");
    ASSERT_TRUE(objects.Devices().Add(m_device));
    m_device->AddLogonOption(u"anna", u"CONTOSO", LogonOption::LockWhenOffline, 0);

    const ServiceSnapshot s = Ask("devices");
    EXPECT_EQ(s.now, FileTimeToUnixSeconds(tp.clock.GetSystemTimeAsFileTime()));
    ASSERT_EQ(s.devices.size(), 3u);
    // Network phones first (by id), then the devices of the map.
    const SnapshotDevice& phone = s.devices[0];
    EXPECT_EQ(phone.kind, 1u);
    EXPECT_EQ(phone.id, "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_EQ(phone.name, "Pixel");
    EXPECT_TRUE(phone.paired);  // the paired list is compared ignoring case
    EXPECT_EQ(phone.address, "192.0.2.7");
    EXPECT_EQ(phone.value, 7u);
    EXPECT_EQ(phone.lastSeen, s.now);
    ASSERT_EQ(phone.options.size(), 1u);
    EXPECT_EQ(phone.options[0].user, "anna");
    EXPECT_EQ(phone.options[0].option, LogonOption::LogoffWhenOffline);
    EXPECT_EQ(phone.options[0].delay, 30);
    EXPECT_EQ(s.devices[1].id, "{FFFFFFFF-0000-0000-0000-000000000001}");
    EXPECT_FALSE(s.devices[1].paired);
    const SnapshotDevice& reader = s.devices[2];
    EXPECT_EQ(reader.kind, 3u);
    EXPECT_EQ(reader.name, "Reader 1");
    ASSERT_EQ(reader.options.size(), 1u);
    EXPECT_EQ(reader.options[0].option, LogonOption::LockWhenOffline);
}

TEST_F(SnapshotScene, SessionsListTheTableAndTheConsoleUser) {
    const ServiceSnapshot s = Ask("sessions");
    EXPECT_EQ(s.consoleUser, "anna@CONTOSO");
    ASSERT_EQ(s.sessions.size(), 1u);
    EXPECT_EQ(s.sessions[0].session, 1);
    EXPECT_EQ(s.sessions[0].user, "anna");
    EXPECT_EQ(s.sessions[0].station, "Console");
    EXPECT_EQ(s.sessions[0].state, SessionState::Active);
    EXPECT_EQ(s.sessions[0].desktop, DesktopKind::Console);
}

TEST_F(SnapshotScene, AnUnknownQuestionIsNotAnswered) {
    std::vector<std::string> lines;
    EXPECT_FALSE(tp.serviceHost.Ask("secrets", lines));
    EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace corvane::test
