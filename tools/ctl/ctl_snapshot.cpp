// What the running service knows right now, asked over its control socket:
//   devices [--json]    the phones on the local network (address, last seen), the phones over
//                       Bluetooth LE (link, signal), the card readers (card state, serial), each
//                       with the logon options attached to it
//   sessions [--json]   the sessions of the service's session table and the console user
// The text form is one table for people; --json is one JSON object for scripts.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ctl_commands.h"
#include "json_text.h"
#include "platform/posix/control_protocol.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "service/service_snapshot.h"
#include "wire/time_text.h"

namespace corvane::ctl {

namespace {
using tools::JsonWriter;

int Ask(const std::string& question, ServiceSnapshot& snapshot) {
    const std::string socketPath = posix::StateRoot::FromEnvironment().ControlSocketPath();
    std::vector<std::string> lines;
    const int err = posix::SendQuery(socketPath, question, lines);
    if (err == ENOENT || err == ECONNREFUSED) {
        return Fail("the service is not running (no control socket at " + socketPath + ")");
    }
    if (err == EOPNOTSUPP) return Fail("the service does not answer '" + question + "' (an older service?)");
    if (err != 0) return Fail(std::string("control socket: ") + std::strerror(err));
    auto decoded = DecodeSnapshot(lines);
    if (!decoded) return Fail("the service's answer to '" + question + "' cannot be read");
    snapshot = std::move(*decoded);
    return 0;
}

bool TakeJson(const Args& args, bool& json) {
    json = false;
    for (const std::string& a : args) {
        if (a != "--json") return false;
        json = true;
    }
    return true;
}

const char* KindWord(uint32_t kind) {
    switch (kind) {
        case 1: return "lan";
        case 2: return "ble";
        case 3: return "card";
        default: return "other";
    }
}

const char* LinkWord(const SnapshotDevice& d) {
    if (d.connected) return "connected";
    if (d.present) return "closed";
    return "lost";
}

std::string Seconds(uint32_t ms) { return std::to_string(ms / 1000) + " s"; }

// What the option does when the device goes away, in words.
std::string OptionWords(const SnapshotOption& o) {
    std::string what;
    if (o.option == 0) {
        what = "no action";
    } else if (o.option == 1) {
        what = "lock when the device is gone, after " + std::to_string(o.delay) + " s";
    } else if (o.option == 2) {
        what = "log off when the device is gone, after " + std::to_string(o.delay) + " s";
    } else if (o.option < 0) {
        what = "lock when the signal stays below " + std::to_string(o.option) + " dBm for " + std::to_string(o.delay) +
               " s";
    } else {
        what = "option " + std::to_string(o.option) + ", delay " + std::to_string(o.delay) + " s";
    }
    return o.domain + "\\" + o.user + ": " + what + (o.handled ? " (acted on)" : "");
}

std::string State(const SnapshotDevice& d, int64_t now) {
    if (d.kind == 1) return "seen " + std::to_string(std::max<int64_t>(0, now - d.lastSeen)) + " s ago";
    if (d.kind == 2) return std::string(LinkWord(d)) + (d.connected ? "" : " for " + Seconds(d.lostForMs));
    if (d.kind == 3) return d.removed ? "card out for " + Seconds(d.removedForMs) : "card in";
    return "";
}

std::string Details(const SnapshotDevice& d) {
    std::vector<std::string> parts;
    if (d.kind == 1) parts.push_back("address " + d.address + ":" + std::to_string(d.port));
    if (d.kind == 2) {
        parts.push_back(d.haveRssi ? "signal " + std::to_string(d.rssi) + " dBm" : "no signal sample");
        if (d.keyed) parts.push_back("keyed");
    }
    // Only a phone on the local network must be paired to be answered.
    if (d.kind == 1) parts.push_back(d.paired ? "paired" : "not paired");
    if (d.kind == 3) parts.push_back("serial " + d.serial);
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

// Names and ids from outside shown inside one table cell: control characters become '?'.
std::string Cell(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Utf8ToUtf16(row[i]).size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - Utf8ToUtf16(row[i]).size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

void PrintDevices(const ServiceSnapshot& s) {
    if (s.devices.empty()) {
        std::printf("no devices\n");
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"KIND", "ID", "NAME", "STATE", "DETAILS"}};
    for (const SnapshotDevice& d : s.devices) {
        rows.push_back({KindWord(d.kind), Cell(d.id), Cell(d.name), State(d, s.now), Cell(Details(d))});
    }
    PrintTable(rows);
    for (const SnapshotDevice& d : s.devices) {
        for (const SnapshotOption& o : d.options) std::printf("%s option: %s\n", Cell(d.id).c_str(), Cell(OptionWords(o)).c_str());
    }
}

void WriteOptions(JsonWriter& j, const std::vector<SnapshotOption>& options) {
    j.Key("options").BeginArray();
    for (const SnapshotOption& o : options) {
        j.BeginObject().Key("user").String(o.user).Key("domain").String(o.domain).Key("option").Number(o.option);
        j.Key("delay").Number(o.delay).Key("handled").Bool(o.handled).EndObject();
    }
    j.EndArray();
}

std::string DevicesJson(const ServiceSnapshot& s) {
    JsonWriter j;
    j.BeginObject().Key("now").Number(s.now).Key("devices").BeginArray();
    for (const SnapshotDevice& d : s.devices) {
        j.BeginObject().Key("kind").String(KindWord(d.kind)).Key("dev_type").Number(d.kind);
        j.Key("id").String(d.id).Key("name").String(d.name);
        if (d.kind == 1) {
            j.Key("paired").Bool(d.paired).Key("address").String(d.address).Key("port").Number(d.port);
            j.Key("value").Number(d.value).Key("last_seen").Number(d.lastSeen);
            j.Key("seen_seconds_ago").Number(std::max<int64_t>(0, s.now - d.lastSeen));
        } else if (d.kind == 2) {
            j.Key("link").String(LinkWord(d)).Key("connected").Bool(d.connected);
            j.Key("keyed").Bool(d.keyed).Key("lost_for_ms").Number(d.lostForMs).Key("rssi");
            if (d.haveRssi) {
                j.Number(d.rssi);
            } else {
                j.Null();
            }
        } else if (d.kind == 3) {
            j.Key("reader").String(d.name).Key("serial").String(d.serial).Key("card").String(d.removed ? "out" : "in");
            j.Key("removed_for_ms").Number(d.removedForMs);
        }
        WriteOptions(j, d.options);
        j.EndObject();
    }
    j.EndArray().EndObject();
    return j.Text();
}

const char* SessionStateWord(int32_t state) {
    switch (state) {
        case 5: return "active";
        case 6: return "logged-off";
        case 7: return "locked";
        default: return "unknown";
    }
}

const char* DesktopWord(int32_t desktop) {
    switch (desktop) {
        case 1: return "console";
        case 2: return "remote";
        default: return "unknown";
    }
}

std::string TimeText(int64_t ft) { return ft == 0 ? "" : Utf16ToUtf8(FormatFileTime(ft)); }

void PrintSessions(const ServiceSnapshot& s) {
    std::printf("console user: %s\n", s.consoleUser.empty() ? "(none)" : Cell(s.consoleUser).c_str());
    if (s.sessions.empty()) {
        std::printf("no sessions\n");
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"ID", "USER", "DOMAIN", "STATION", "STATE", "DESKTOP", "LOGON (UTC)", "UPN"}};
    for (const SnapshotSession& x : s.sessions) {
        rows.push_back({std::to_string(x.session), Cell(x.user), Cell(x.domain), Cell(x.station), SessionStateWord(x.state),
                        DesktopWord(x.desktop), TimeText(x.logon), Cell(x.upn)});
    }
    PrintTable(rows);
}

std::string SessionsJson(const ServiceSnapshot& s) {
    JsonWriter j;
    j.BeginObject().Key("now").Number(s.now).Key("console_user").String(s.consoleUser).Key("sessions").BeginArray();
    for (const SnapshotSession& x : s.sessions) {
        j.BeginObject().Key("id").Number(x.session).Key("user").String(x.user).Key("domain").String(x.domain);
        j.Key("station").String(x.station).Key("state").Number(x.state).Key("state_name").String(SessionStateWord(x.state));
        j.Key("desktop").Number(x.desktop).Key("upn").String(x.upn);
        j.Key("logon").String(TimeText(x.logon)).Key("active").String(TimeText(x.active));
        j.Key("locked").String(TimeText(x.locked)).EndObject();
    }
    j.EndArray().EndObject();
    return j.Text();
}

int Show(const Args& args, const char* question, const char* usage, void (*print)(const ServiceSnapshot&),
         std::string (*json)(const ServiceSnapshot&)) {
    bool asJson = false;
    if (!TakeJson(args, asJson)) return Fail(usage);
    ServiceSnapshot snapshot;
    if (int rc = Ask(question, snapshot)) return rc;
    if (asJson) {
        const std::string text = json(snapshot);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
        print(snapshot);
    }
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}
}  // namespace

int RunDevices(const Args& args) {
    return Show(args, "devices", "usage: corvane-ctl devices [--json]", PrintDevices, DevicesJson);
}

int RunSessions(const Args& args) {
    return Show(args, "sessions", "usage: corvane-ctl sessions [--json]", PrintSessions, SessionsJson);
}

}  // namespace corvane::ctl
