// What a session change does to the logon options, through the service's own objects: the session
// monitor as the service wires it reaches the network phones through its hook and the devices of
// the device map. A user who leaves the console (lock, disconnect or logoff of the active console
// session) loses the options on both; a lock or disconnect of a remote desktop session, or of a
// console session that was not active, leaves every option in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/cdev_tovrel.h"
#include "device/device_map.h"
#include "phone/cdev_net.h"
#include "phone/net_device_table.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

const std::u16string kNetPhone = u"net-phone-1";
const std::u16string kBtPhone = u"bt-phone-1";

// A device of the map without a worker: only its options matter here.
class IdleDevice final : public CDevTovrel {
public:
    IdleDevice(IClock& clock, std::u16string id) : CDevTovrel(clock, std::move(id), u"phone", DeviceKind::BluetoothPhone) {}
    void StartWorker() override {}
    uint32_t Run() override { return 0; }
};

// The wired service objects with anna's session (id 1) known to the monitor, a network phone and
// a map device, each holding an option for anna and one for bob.
class ServiceScene {
public:
    ServiceScene(const std::u16string& station, int32_t state, int32_t flags) {
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO", station, state, flags));
        Notify(WTS_SESSION_LOGON);

        objects.NetDevices().AnnounceNetDevice(kNetPhone, u"Pixel", 45452, 0, u"192.0.2.7");
        EXPECT_TRUE(objects.NetDevices().AddNetLogonOption(kNetPhone, u"anna", u"CONTOSO",
                                                           LogonOption::LogoffWhenOffline, 30));
        EXPECT_TRUE(objects.NetDevices().AddNetLogonOption(kNetPhone, u"bob", u"CONTOSO",
                                                           LogonOption::LockWhenOffline, 0));
        m_device = new IdleDevice(tp.clock, kBtPhone);
        EXPECT_TRUE(objects.Devices().Add(m_device));
        m_device->AddLogonOption(u"ANNA", u"contoso", LogonOption::LockWhenOffline, 0);
        m_device->AddLogonOption(u"bob", u"CONTOSO", LogonOption::LockWhenOffline, 0);
    }
    ~ServiceScene() {
        objects.Devices().Clear();
        DeviceMap::Release(m_device);  // the reference a worker would have held
    }

    void Notify(int32_t code) {
        WtsSessionNotification n;
        n.dwSessionId = 1;
        objects.SessionMonitor().OnSessionChange(static_cast<uint32_t>(code), &n);
    }

    std::vector<std::u16string> NetPhoneUsers() {
        std::vector<std::u16string> users;
        EXPECT_TRUE(objects.NetDevices().WithNetDevice(kNetPhone, [&](const CDevNet& phone) {
            for (const auto& option : phone.m_arrLogonOpt) users.push_back(option->m_strUser);
        }));
        return users;
    }
    std::vector<std::u16string> DeviceUsers() {
        std::vector<std::u16string> users;
        for (const CLogonOpt& option : m_device->CopyLogonOptions()) users.push_back(option.m_strUser);
        return users;
    }

    TestPlatform tp;
    // The application (with the configuration and its mutexes) outlives the service objects.
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};

private:
    IdleDevice* m_device = nullptr;
};

TEST(SessionDevicesServiceTest, OnlyTheActiveConsoleUserLeavingLosesTheOptionsOfPhonesAndDevices) {
    using V = std::vector<std::u16string>;
    struct Session {
        const char16_t* station;
        int32_t state;
        int32_t flags;
    };
    const Session activeConsole {u"Console", WtsConnectState::Active, WtsSessionFlags::Unlock};
    const Session lockedConsole {u"Console", WtsConnectState::Active, WtsSessionFlags::Lock};
    const Session activeRemote {u"RDP-Tcp#7", WtsConnectState::Active, WtsSessionFlags::Unlock};
    struct Case {
        const char* label;
        Session before;
        int32_t code;
        Session after;
        bool optionsRemoved;
    };
    const Case cases[] = {
        {"console lock", activeConsole, WTS_SESSION_LOCK, lockedConsole, true},
        {"console disconnect", activeConsole, WTS_CONSOLE_DISCONNECT,
         {u"Console", WtsConnectState::Disconnected, WtsSessionFlags::Unlock}, true},
        {"console logoff", activeConsole, WTS_SESSION_LOGOFF, activeConsole, true},
        {"remote desktop lock", activeRemote, WTS_SESSION_LOCK,
         {u"RDP-Tcp#7", WtsConnectState::Active, WtsSessionFlags::Lock}, false},
        {"remote desktop disconnect", activeRemote, WTS_REMOTE_DISCONNECT,
         {u"RDP-Tcp#7", WtsConnectState::Disconnected, WtsSessionFlags::Unlock}, false},
        {"disconnect of a locked console session", lockedConsole, WTS_CONSOLE_DISCONNECT,
         {u"Console", WtsConnectState::Disconnected, WtsSessionFlags::Lock}, false},
        {"lock of a locked console session", lockedConsole, WTS_SESSION_LOCK, lockedConsole, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ServiceScene scene(c.before.station, c.before.state, c.before.flags);
        ASSERT_EQ(scene.NetPhoneUsers(), (V {u"anna", u"bob"}));
        ASSERT_EQ(scene.DeviceUsers(), (V {u"ANNA", u"bob"}));

        scene.tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO", c.after.station, c.after.state,
                                                        c.after.flags));
        scene.Notify(c.code);

        const V netPhoneUsers = c.optionsRemoved ? V {u"bob"} : V {u"anna", u"bob"};
        const V deviceUsers = c.optionsRemoved ? V {u"bob"} : V {u"ANNA", u"bob"};
        EXPECT_EQ(scene.NetPhoneUsers(), netPhoneUsers);
        EXPECT_EQ(scene.DeviceUsers(), deviceUsers);
    }
}

}  // namespace
}  // namespace corvane::test
