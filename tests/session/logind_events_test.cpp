// What a login-manager session means as a Windows session, and which session-change codes a
// change of its state stands for, in Windows' order.
#include <gtest/gtest.h>

#include "platform/posix/logind_events.h"

namespace corvane::posix {
namespace {

LogindView View(bool active, bool locked, bool remote = false, std::string seat = "seat0") {
    return LogindView {active, locked, remote, std::move(seat)};
}

TEST(LogindEvents, ConsoleIsTheActiveLocalSessionOfSeat0) {
    EXPECT_EQ(WinStationOf(View(true, false), 2), u"Console");
    EXPECT_EQ(WinStationOf(View(true, false, true, ""), 7), u"RDP-Tcp#7");
    EXPECT_EQ(WinStationOf(View(false, false), 2), u"");           // switched away: desktop kept
    EXPECT_EQ(WinStationOf(View(true, false, false, "seat1"), 2), u"");
    EXPECT_EQ(ConnectStateOf(View(true, true)), WtsConnectState::Active);
    EXPECT_EQ(ConnectStateOf(View(false, false)), WtsConnectState::Disconnected);
    EXPECT_EQ(SessionFlagsOf(View(true, true)), WtsSessionFlags::Lock);
    EXPECT_EQ(SessionFlagsOf(View(true, false)), WtsSessionFlags::Unlock);
}

TEST(LogindEvents, ChangesInWindowsOrder) {
    using E = std::vector<uint32_t>;
    struct Case {
        LogindView before, after;
        E events;
    } cases[] = {
        {View(true, false), View(true, false), {}},
        {View(true, false), View(true, true), {LogindEvent::SessionLock}},
        {View(true, true), View(true, false), {LogindEvent::SessionUnlock}},
        // Leaving: locked first, then disconnected; returning: connected, then unlocked.
        {View(true, false), View(false, true), {LogindEvent::SessionLock, LogindEvent::ConsoleDisconnect}},
        {View(false, true), View(true, false), {LogindEvent::ConsoleConnect, LogindEvent::SessionUnlock}},
        {View(true, false, true), View(false, false, true), {LogindEvent::RemoteDisconnect}},
        {View(false, false, true), View(true, false, true), {LogindEvent::RemoteConnect}},
    };
    for (const auto& c : cases) EXPECT_EQ(EventsForChange(c.before, c.after), c.events);
    EXPECT_EQ(EventsForNewSession(), E {LogindEvent::SessionLogon});
    EXPECT_EQ(EventsForRemovedSession(View(true, false, true)),
              (E {LogindEvent::SessionLogoff, LogindEvent::RemoteDisconnect}));
}

TEST(LogindEvents, RealmOfTheKerberosConfiguration) {
    struct Case {
        const char* text;
        const char* realm;
    } cases[] = {
        {"[libdefaults]\n  default_realm = CORP.EXAMPLE\n", "CORP.EXAMPLE"},
        {"[realms]\n default_realm = OTHER\n[libdefaults]\n\tdefault_realm=AD.EXAMPLE.ORG\r\n", "AD.EXAMPLE.ORG"},
        {"# default_realm = NO\n[libdefaults]\n dns_lookup_realm = false\n", ""},
        {"[libdefaults]\n default_realm = BAD REALM\n", ""},
        {"[libdefaults]\n default_realm", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DefaultRealmOf(c.text), c.realm) << c.text;
    EXPECT_EQ(NetbiosOfRealm("corp.example"), "CORP");
    EXPECT_EQ(NetbiosOfRealm("averyveryverylongname.example"), "AVERYVERYVERYLO");
}

}  // namespace
}  // namespace corvane::posix
