#include "platform/posix/logind_events.h"

#include <cctype>

#include "platform/text.h"

namespace corvane::posix {

bool IsConsole(const LogindView& view) { return view.active && !view.remote && view.seat == "seat0"; }

int32_t ConnectStateOf(const LogindView& view) {
    return view.active ? WtsConnectState::Active : WtsConnectState::Disconnected;
}

int32_t SessionFlagsOf(const LogindView& view) {
    return view.locked ? WtsSessionFlags::Lock : WtsSessionFlags::Unlock;
}

std::u16string WinStationOf(const LogindView& view, uint32_t sessionId) {
    if (view.remote) return AsciiToUtf16("RDP-Tcp#" + std::to_string(sessionId));
    if (IsConsole(view)) return u"Console";
    return {};
}

std::vector<uint32_t> EventsForNewSession() { return {LogindEvent::SessionLogon}; }

std::vector<uint32_t> EventsForRemovedSession(const LogindView& last) {
    return {LogindEvent::SessionLogoff,
            last.remote ? LogindEvent::RemoteDisconnect : LogindEvent::ConsoleDisconnect};
}

std::vector<uint32_t> EventsForChange(const LogindView& before, const LogindView& after) {
    std::vector<uint32_t> out;
    const uint32_t connect = after.remote ? LogindEvent::RemoteConnect : LogindEvent::ConsoleConnect;
    const uint32_t disconnect = after.remote ? LogindEvent::RemoteDisconnect : LogindEvent::ConsoleDisconnect;
    if (!before.locked && after.locked) out.push_back(LogindEvent::SessionLock);
    if (before.active && !after.active) out.push_back(disconnect);
    if (!before.active && after.active) out.push_back(connect);
    if (before.locked && !after.locked) out.push_back(LogindEvent::SessionUnlock);
    return out;
}

namespace {
std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}
}  // namespace

std::string DefaultRealmOf(std::string_view text) {
    constexpr size_t kMaxBytes = 64 * 1024;
    if (text.size() > kMaxBytes) text = text.substr(0, kMaxBytes);
    bool inLibdefaults = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            inLibdefaults = line == "[libdefaults]";
            continue;
        }
        if (!inLibdefaults) continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || Trim(line.substr(0, eq)) != "default_realm") continue;
        const std::string_view value = Trim(line.substr(eq + 1));
        for (char c : value) {
            // A realm is a DNS-like name; anything else is not one we can name a domain after.
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return {};
        }
        return std::string(value);
    }
    return {};
}

std::string NetbiosOfRealm(std::string_view realm) {
    std::string head(realm.substr(0, realm.find('.')));
    if (head.size() > 15) head.resize(15);
    for (auto& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return head;
}

}  // namespace corvane::posix
