#include "service/service_snapshot.h"

#include <charconv>
#include <limits>

namespace corvane {

namespace {
constexpr char kSeparator = '\t';

class LineWriter {
public:
    explicit LineWriter(const char* name) : m_line(name) {}
    LineWriter& Text(const std::string& text) {
        m_line.push_back(kSeparator);
        m_line += EscapeSnapshotField(text);
        return *this;
    }
    LineWriter& Number(int64_t n) { return Text(std::to_string(n)); }
    LineWriter& Flag(bool b) { return Text(b ? "1" : "0"); }
    std::string Take() { return std::move(m_line); }

private:
    std::string m_line;
};

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find(kSeparator, start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

// The fields of one record after its name, unescaped and checked as they are read.
class FieldReader {
public:
    explicit FieldReader(std::vector<std::string> fields) : m_fields(std::move(fields)) {}
    size_t Count() const { return m_fields.size() - 1; }
    bool Text(std::string& out) {
        if (m_next >= m_fields.size()) return false;
        auto text = UnescapeSnapshotField(m_fields[m_next++]);
        if (!text) return false;
        out = std::move(*text);
        return true;
    }
    template <typename T>
    bool Number(T& out) {
        std::string text;
        if (!Text(text) || text.empty()) return false;
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size()) return false;
        if (n < static_cast<int64_t>(std::numeric_limits<T>::min())) return false;
        if (n > 0 && static_cast<uint64_t>(n) > static_cast<uint64_t>(std::numeric_limits<T>::max())) return false;
        out = static_cast<T>(n);
        return true;
    }
    bool Flag(bool& out) {
        std::string text;
        if (!Text(text) || (text != "0" && text != "1")) return false;
        out = text == "1";
        return true;
    }

private:
    std::vector<std::string> m_fields;
    size_t m_next = 1;
};

bool ReadLan(FieldReader& r, SnapshotDevice& d) {
    d.kind = 1;
    return r.Count() == 7 && r.Text(d.id) && r.Text(d.name) && r.Flag(d.paired) && r.Text(d.address) &&
           r.Number(d.port) && r.Number(d.value) && r.Number(d.lastSeen);
}

bool ReadBle(FieldReader& r, SnapshotDevice& d) {
    d.kind = 2;
    return r.Count() == 10 && r.Text(d.id) && r.Text(d.name) && r.Flag(d.paired) && r.Flag(d.connected) &&
           r.Flag(d.present) && r.Flag(d.closed) && r.Flag(d.keyed) && r.Number(d.lostForMs) &&
           r.Flag(d.haveRssi) && r.Number(d.rssi);
}

bool ReadCard(FieldReader& r, SnapshotDevice& d) {
    d.kind = 3;
    return r.Count() == 5 && r.Text(d.id) && r.Text(d.name) && r.Text(d.serial) && r.Flag(d.removed) &&
           r.Number(d.removedForMs);
}

bool ReadOption(FieldReader& r, SnapshotOption& o) {
    return r.Count() == 5 && r.Text(o.user) && r.Text(o.domain) && r.Number(o.option) && r.Number(o.delay) &&
           r.Flag(o.handled);
}

bool ReadSession(FieldReader& r, SnapshotSession& s) {
    return r.Count() == 10 && r.Number(s.session) && r.Text(s.user) && r.Text(s.domain) && r.Text(s.station) &&
           r.Number(s.state) && r.Number(s.desktop) && r.Text(s.upn) && r.Number(s.logon) && r.Number(s.active) &&
           r.Number(s.locked);
}
}  // namespace

std::string EscapeSnapshotField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> UnescapeSnapshotField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        switch (text[++i]) {
            case 't': out.push_back('\t'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case '\\': out.push_back('\\'); break;
            default: return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string> EncodeSnapshot(const ServiceSnapshot& snapshot) {
    std::vector<std::string> lines;
    lines.push_back(LineWriter("now").Number(snapshot.now).Take());
    lines.push_back(LineWriter("console").Text(snapshot.consoleUser).Take());
    for (const SnapshotDevice& d : snapshot.devices) {
        if (d.kind == 1) {
            lines.push_back(LineWriter("lan").Text(d.id).Text(d.name).Flag(d.paired).Text(d.address).Number(d.port)
                                .Number(d.value).Number(d.lastSeen).Take());
        } else if (d.kind == 2) {
            lines.push_back(LineWriter("ble").Text(d.id).Text(d.name).Flag(d.paired).Flag(d.connected)
                                .Flag(d.present).Flag(d.closed).Flag(d.keyed).Number(d.lostForMs)
                                .Flag(d.haveRssi).Number(d.rssi).Take());
        } else if (d.kind == 3) {
            lines.push_back(LineWriter("card").Text(d.id).Text(d.name).Text(d.serial).Flag(d.removed)
                                .Number(d.removedForMs).Take());
        } else {
            continue;  // a kind the tool would not know how to show
        }
        for (const SnapshotOption& o : d.options) {
            lines.push_back(LineWriter("option").Text(o.user).Text(o.domain).Number(o.option).Number(o.delay)
                                .Flag(o.handled).Take());
        }
    }
    for (const SnapshotSession& s : snapshot.sessions) {
        lines.push_back(LineWriter("session").Number(s.session).Text(s.user).Text(s.domain).Text(s.station)
                            .Number(s.state).Number(s.desktop).Text(s.upn).Number(s.logon).Number(s.active)
                            .Number(s.locked).Take());
    }
    return lines;
}

std::optional<ServiceSnapshot> DecodeSnapshot(const std::vector<std::string>& lines) {
    ServiceSnapshot snapshot;
    for (const std::string& line : lines) {
        std::vector<std::string> fields = SplitFields(line);
        const std::string name = fields[0];
        FieldReader r(std::move(fields));
        bool ok = false;
        if (name == "now") {
            ok = r.Count() == 1 && r.Number(snapshot.now);
        } else if (name == "console") {
            ok = r.Count() == 1 && r.Text(snapshot.consoleUser);
        } else if (name == "lan" || name == "ble" || name == "card") {
            SnapshotDevice d;
            ok = name == "lan" ? ReadLan(r, d) : name == "ble" ? ReadBle(r, d) : ReadCard(r, d);
            if (ok) snapshot.devices.push_back(std::move(d));
        } else if (name == "option") {
            SnapshotOption o;
            ok = !snapshot.devices.empty() && ReadOption(r, o);
            if (ok) snapshot.devices.back().options.push_back(std::move(o));
        } else if (name == "session") {
            SnapshotSession s;
            ok = ReadSession(r, s);
            if (ok) snapshot.sessions.push_back(std::move(s));
        }
        if (!ok) return std::nullopt;
    }
    return snapshot;
}

}  // namespace corvane
