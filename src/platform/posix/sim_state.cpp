#include "platform/posix/sim_state.h"

#include <charconv>

#include "platform/sessions.h"

namespace corvane::posix {

namespace {
constexpr std::string_view kMagic = "corvane-sim-sessions 1";
constexpr size_t kMaxFields = 16;

bool IsPlain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '#' || c == '@' || c == '$';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Splits one line at single blanks; nothing when it has more fields than any record.
std::optional<std::vector<std::string_view>> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t blank = line.find(' ', start);
        const size_t end = blank == std::string_view::npos ? line.size() : blank;
        if (fields.size() == kMaxFields) return std::nullopt;
        fields.push_back(line.substr(start, end - start));
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
    return fields;
}

template <typename T>
bool ParseNumber(std::string_view field, T& out) {
    if (field.empty()) return false;
    const auto result = std::from_chars(field.data(), field.data() + field.size(), out);
    return result.ec == std::errc() && result.ptr == field.data() + field.size();
}

bool ParseSession(const std::vector<std::string_view>& f, SimSession& s) {
    if (f.size() != 13) return false;
    int idleKnown = 0;
    if (!ParseNumber(f[1], s.id) || !ParseNumber(f[2], s.connectState) || !ParseNumber(f[3], s.flags) ||
        !ParseNumber(f[4], s.desktop) || !ParseNumber(f[5], idleKnown) || !ParseNumber(f[6], s.logonTime) ||
        !ParseNumber(f[7], s.connectTime) || !ParseNumber(f[8], s.disconnectTime) ||
        !ParseNumber(f[9], s.lastInputTime)) {
        return false;
    }
    if (idleKnown != 0 && idleKnown != 1) return false;
    s.idleKnown = idleKnown == 1;
    auto station = DecodeSimName(f[10]);
    auto user = DecodeSimName(f[11]);
    auto domain = DecodeSimName(f[12]);
    if (!station || !user || !domain) return false;
    s.station = std::move(*station);
    s.user = std::move(*user);
    s.domain = std::move(*domain);
    return true;
}
}  // namespace

SimState SimState::Fresh() {
    SimState state;
    SimSession services;
    services.id = 0;
    services.connectState = WtsConnectState::Disconnected;
    services.flags = WtsSessionFlags::Unknown;
    services.station = "Services";
    SimSession logonScreen;
    logonScreen.id = 1;
    logonScreen.connectState = WtsConnectState::Connected;
    logonScreen.flags = WtsSessionFlags::Unknown;
    logonScreen.desktop = SimDesktop::Console;
    logonScreen.station = "Console";
    SimSession listener;
    listener.id = 65536;
    listener.connectState = WtsConnectState::Listen;
    listener.flags = WtsSessionFlags::Unknown;
    listener.station = "RDP-Tcp";
    state.sessions = {services, logonScreen, listener};
    state.consoleId = 1;
    state.nextId = 2;
    return state;
}

SimSession* SimState::Find(uint32_t id) {
    for (auto& s : sessions) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

const SimSession* SimState::Find(uint32_t id) const { return const_cast<SimState*>(this)->Find(id); }

std::string EncodeSimName(std::string_view name) {
    if (name.empty()) return "-";
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (IsPlain(c)) {
            out.push_back(c);
        } else {
            const auto b = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    return out;
}

std::optional<std::string> DecodeSimName(std::string_view field) {
    if (field == "-") return std::string();
    if (field.empty()) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '%') {
            if (field.size() - i < 3) return std::nullopt;
            const int hi = HexValue(field[i + 1]);
            const int lo = HexValue(field[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<char>((hi << 4) | lo));
            i += 2;
        } else if (IsPlain(c)) {
            out.push_back(c);
        } else {
            return std::nullopt;
        }
        if (out.size() > kSimMaxName) return std::nullopt;
    }
    return out;
}

std::string SerializeSimState(const SimState& state) {
    std::string out(kMagic);
    out += "\nmachine " + std::to_string(state.nextId) + " " + std::to_string(state.nextRdp) + " " +
           std::to_string(state.consoleId) + " " + std::to_string(state.osMajor) + " " + std::to_string(state.osMinor) +
           "\n";
    for (const auto& s : state.sessions) {
        out += "session " + std::to_string(s.id) + " " + std::to_string(s.connectState) + " " + std::to_string(s.flags) +
               " " + std::to_string(s.desktop) + " " + (s.idleKnown ? "1" : "0") + " " + std::to_string(s.logonTime) +
               " " + std::to_string(s.connectTime) + " " + std::to_string(s.disconnectTime) + " " +
               std::to_string(s.lastInputTime) + " " + EncodeSimName(s.station) + " " + EncodeSimName(s.user) + " " +
               EncodeSimName(s.domain) + "\n";
    }
    for (const auto& t : state.trusts) out += "trust " + EncodeSimName(t.netbios) + " " + EncodeSimName(t.dns) + "\n";
    for (FileTime t : state.shutdowns) out += "shutdown " + std::to_string(t) + "\n";
    return out;
}

std::optional<SimState> ParseSimState(std::string_view text) {
    SimState state;
    bool sawMagic = false;
    bool sawMachine = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        if (!sawMagic) {
            if (line != kMagic) return std::nullopt;
            sawMagic = true;
            continue;
        }
        auto fields = SplitFields(line);
        if (!fields || fields->empty()) return std::nullopt;
        const auto& f = *fields;
        if (f[0] == "machine") {
            if (sawMachine || f.size() != 6 || !ParseNumber(f[1], state.nextId) || !ParseNumber(f[2], state.nextRdp) ||
                !ParseNumber(f[3], state.consoleId) || !ParseNumber(f[4], state.osMajor) ||
                !ParseNumber(f[5], state.osMinor)) {
                return std::nullopt;
            }
            sawMachine = true;
        } else if (f[0] == "session") {
            SimSession s;
            if (state.sessions.size() >= kSimMaxSessions || !ParseSession(f, s) || state.Find(s.id)) return std::nullopt;
            state.sessions.push_back(std::move(s));
        } else if (f[0] == "trust") {
            if (f.size() != 3 || state.trusts.size() >= kSimMaxTrusts) return std::nullopt;
            auto netbios = DecodeSimName(f[1]);
            auto dns = DecodeSimName(f[2]);
            if (!netbios || !dns) return std::nullopt;
            state.trusts.push_back({std::move(*netbios), std::move(*dns)});
        } else if (f[0] == "shutdown") {
            FileTime t = 0;
            if (f.size() != 2 || state.shutdowns.size() >= kSimMaxShutdowns || !ParseNumber(f[1], t)) {
                return std::nullopt;
            }
            state.shutdowns.push_back(t);
        } else {
            return std::nullopt;
        }
    }
    if (!sawMagic || !sawMachine) return std::nullopt;
    return state;
}

}  // namespace corvane::posix
