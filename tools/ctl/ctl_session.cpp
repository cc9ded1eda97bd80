// The session verb: the simulated machine's users at work. Each change is made in the steps
// Windows takes, and every session-change notification it causes is delivered to the running
// service (and handled by it) before the command returns.
//   session logon USER DOMAIN [--rdp]   prints the new session id alone on a line
//   session lock|unlock|disconnect|logoff ID
//   session connect ID [--console|--rdp]
//   session idle ID MILLISECONDS         (negative: the idle-time program cannot tell)
//   session list                         one line per session: id user domain station state
//   session trust add NETBIOS DNS | trust clear | trust list
//   session os MAJOR.MINOR               the version the machine reports
//   session shutdowns                    the shutdown requests the machine has received
#include <cinttypes>
#include <cstdio>
#include <string>

#include "ctl_commands.h"
#include "ctl_numbers.h"
#include "platform/file_time.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_sessions.h"
#include "platform/posix/state_root.h"
#include "platform/sessions.h"

namespace corvane::ctl {

namespace {
constexpr const char* kUsage =
    "usage: corvane-ctl session logon USER DOMAIN [--rdp] | lock|unlock|disconnect|logoff ID | "
    "connect ID [--console|--rdp] | idle ID MILLISECONDS | list | trust add NETBIOS DNS | trust clear | "
    "trust list | os MAJOR.MINOR | shutdowns";

const char* StateName(const posix::SimSession& s) {
    switch (s.connectState) {
        case WtsConnectState::Active: return s.flags == WtsSessionFlags::Unlock ? "Active" : "Locked";
        case WtsConnectState::Connected: return "Connected";
        case WtsConnectState::Disconnected: return "Disconnected";
        case WtsConnectState::Listen: return "Listen";
        default: return "Other";
    }
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string TimeText(FileTime ft) {
    const CalendarTime t = FileTimeToCalendar(ft);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

int Report(const posix::SimResult& result) {
    if (result.error == 0) return 0;
    return Fail(result.message.empty() ? "error " + std::to_string(result.error)
                                       : result.message + " (error " + std::to_string(result.error) + ")");
}

bool ParseId(const std::string& text, uint32_t& id) {
    auto n = ParseNumber(text);
    if (!n) return false;
    id = *n;
    return true;
}

int List(posix::SimSessionManager& manager) {
    posix::SimState state;
    if (uint32_t err = manager.Read(state)) return Fail("the session state cannot be read (error " + std::to_string(err) + ")");
    for (const auto& s : state.sessions) {
        std::printf("%u %s %s %s %s\n", s.id, OrDash(s.user).c_str(), OrDash(s.domain).c_str(), OrDash(s.station).c_str(),
                    StateName(s));
    }
    return 0;
}

int Trust(posix::SimSessionManager& manager, const Args& args) {
    if (args.size() == 4 && args[1] == "add") return Report(manager.AddTrust(args[2], args[3]));
    if (args.size() == 2 && args[1] == "clear") return Report(manager.ClearTrusts());
    if (args.size() == 2 && args[1] == "list") {
        posix::SimState state;
        if (uint32_t err = manager.Read(state)) return Fail("the session state cannot be read (error " + std::to_string(err) + ")");
        for (const auto& t : state.trusts) std::printf("%s %s\n", t.netbios.c_str(), t.dns.c_str());
        return 0;
    }
    return UsageFail(kUsage);
}

int Os(posix::SimSessionManager& manager, const std::string& version) {
    const size_t dot = version.find('.');
    if (dot == std::string::npos) return UsageFail(kUsage);
    auto major = ParseNumber(version.substr(0, dot));
    auto minor = ParseNumber(version.substr(dot + 1));
    if (!major || !minor) return UsageFail(kUsage);
    return Report(manager.SetOsVersion(*major, *minor));
}

int Shutdowns(posix::SimSessionManager& manager) {
    posix::SimState state;
    if (uint32_t err = manager.Read(state)) return Fail("the session state cannot be read (error " + std::to_string(err) + ")");
    for (FileTime t : state.shutdowns) std::printf("%s UTC\n", TimeText(t).c_str());
    return 0;
}
}  // namespace

int RunSession(const Args& args) {
    if (args.empty()) return UsageFail(kUsage);
    const auto root = posix::StateRoot::FromEnvironment();
    posix::PosixClock clock;
    posix::SimSessionManager manager(posix::SimSessionDirectory(root), clock,
                                     posix::NotifyServiceBySocket(root.ControlSocketPath()));
    const std::string& verb = args[0];
    uint32_t id = 0;

    if (verb == "logon") {
        const bool rdp = args.size() == 4 && args[3] == "--rdp";
        if (args.size() != 3 && !rdp) return UsageFail(kUsage);
        const posix::SimResult result = manager.Logon(args[1], args[2], rdp);
        if (result.error) return Report(result);
        std::printf("%u\n", result.sessionId);
        return 0;
    }
    if (verb == "list" && args.size() == 1) return List(manager);
    if (verb == "trust" && args.size() >= 2) return Trust(manager, args);
    if (verb == "os" && args.size() == 2) return Os(manager, args[1]);
    if (verb == "shutdowns" && args.size() == 1) return Shutdowns(manager);
    if (verb == "idle" && args.size() == 3 && ParseId(args[1], id)) {
        try {
            return Report(manager.SetIdle(id, std::stoll(args[2])));
        } catch (const std::exception&) {
            return UsageFail(kUsage);
        }
    }
    if (verb == "connect" && (args.size() == 2 || args.size() == 3) && ParseId(args[1], id)) {
        int32_t desktop = posix::SimDesktop::None;
        if (args.size() == 3) {
            if (args[2] == "--rdp") {
                desktop = posix::SimDesktop::Remote;
            } else if (args[2] == "--console") {
                desktop = posix::SimDesktop::Console;
            } else {
                return UsageFail(kUsage);
            }
        }
        return Report(manager.Connect(id, desktop));
    }
    if (args.size() == 2 && ParseId(args[1], id)) {
        if (verb == "lock") return Report(manager.Lock(id));
        if (verb == "unlock") return Report(manager.Unlock(id));
        if (verb == "disconnect") return Report(manager.Disconnect(id));
        if (verb == "logoff") return Report(manager.Logoff(id));
    }
    return UsageFail(kUsage);
}

}  // namespace corvane::ctl
