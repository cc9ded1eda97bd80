// What the logon component stand-in does with a relayed logon, unlock or re-logon on the simulated
// session manager: above all, that a user whose session was disconnected (the service locked it
// when the phone left) gets that same session back at the logon screen.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "logon_actions.h"
#include "platform/sessions.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"
#include "wire/result_codes.h"

namespace corvane::logon {
namespace {

struct Notice {
    uint32_t event;
    uint32_t session;
    bool operator==(const Notice&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Notice& n) { return os << "(" << n.event << "," << n.session << ")"; }

RelayedLogon Request(uint16_t code, const char* user) {
    RelayedLogon r;
    r.code = code;
    r.user = user;
    r.domain = "CONTOSO";
    return r;
}

// dave's session after the request: "" (none), or its id, "unlocked" or "locked" (not active
// counts as locked), and "console" when it holds the console.
std::string DaveAfter(posix::SimSessionManager& m) {
    posix::SimState state;
    EXPECT_EQ(m.Read(state), 0u);
    for (const auto& s : state.sessions) {
        if (s.user != "dave") continue;
        const bool unlocked = s.connectState == WtsConnectState::Active && s.flags == WtsSessionFlags::Unlock;
        return std::to_string(s.id) + (unlocked ? " unlocked" : " locked") + (s.id == state.consoleId ? " console" : "");
    }
    return "";
}

TEST(LogonActions, EachRequestOnEachConsole) {
    using posix::SimEvent::ConsoleConnect;
    using posix::SimEvent::ConsoleDisconnect;
    using posix::SimEvent::SessionLogon;
    using posix::SimEvent::SessionUnlock;
    // Session ids: the logon screen of a fresh machine is 1; dave's disconnect brings screen 2.
    const auto daveDisconnected = [](posix::SimSessionManager& m) {
        m.Logon("dave", "CONTOSO", false);
        m.Disconnect(1);
    };
    const auto daveLocked = [](posix::SimSessionManager& m) {
        m.Logon("dave", "CONTOSO", false);
        m.Lock(1);
    };
    const auto nobody = [](posix::SimSessionManager&) {};
    const auto anna = [](posix::SimSessionManager& m) { m.Logon("anna", "CONTOSO", false); };
    const std::vector<Notice> reconnect = {{ConsoleDisconnect, 2}, {ConsoleConnect, 1}, {SessionUnlock, 1}};
    const struct Case {
        const char* label;
        std::function<void(posix::SimSessionManager&)> setup;
        uint16_t code;
        uint32_t result;
        const char* daveAfter;
        std::vector<Notice> notices;
    } cases[] = {
        {"unlock of a disconnected session reconnects it", daveDisconnected, kRelayedUnlock, 0, "1 unlocked console",
         reconnect},
        {"logon of a disconnected session reconnects it", daveDisconnected, kRelayedLogon, 0, "1 unlocked console",
         reconnect},
        {"re-logon of a disconnected session reconnects it", daveDisconnected, kRelayedRelogon, 0,
         "1 unlocked console", reconnect},
        {"unlock of a locked console session", daveLocked, kRelayedUnlock, 0, "1 unlocked console",
         {{SessionUnlock, 1}}},
        {"logon at the logon screen", nobody, kRelayedLogon, 0, "1 unlocked console", {{SessionLogon, 1}}},
        {"unlock without a session", nobody, kRelayedUnlock, Result::UserNotLoggedOn, "", {}},
        {"logon while another user is on the console", anna, kRelayedLogon, Result::OtherUserLoggedOn, "", {}},
        {"unlock while another user is on the console", anna, kRelayedUnlock, Result::ConsoleLockedByOtherUser, "",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir machine;
        test::FakeClock clock;
        std::vector<Notice> notices;
        posix::SimSessionManager m(machine.Path("sim"), clock,
                                   [&](uint32_t event, uint32_t session) { notices.push_back({event, session}); });
        c.setup(m);
        notices.clear();
        EXPECT_EQ(CarryOut(m, Request(c.code, "dave")), c.result);
        EXPECT_EQ(notices, c.notices);
        EXPECT_EQ(DaveAfter(m), c.daveAfter);
    }
}

}  // namespace
}  // namespace corvane::logon
