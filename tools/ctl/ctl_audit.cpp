// audit [--last N] [--csv|--json] [--raw]: prints the audit trail of $CORVANE_ROOT, so that an
// administrator can read it without writing SQL. The database is opened read-only with the
// service's passphrase. First line: the column names; then one row per line, oldest first,
// tab-separated (with \t, \n, \r and \\ escaped inside values) or as CSV (RFC 4180 quoting).
// NULL prints as nothing. Beside event_type an extra column, event_name, names the event
// (EVENT_TYPE_SESSION_LOCK for 7); --raw leaves it out and prints the table's columns alone.
// --json prints one array of objects, one per row, keyed by column name (integer columns as
// numbers, NULL as null).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "audit/audit_database.h"
#include "audit/audit_event_names.h"
#include "audit/audit_outbox.h"
#include "audit/audit_reader.h"
#include "ctl_commands.h"
#include "service/service_snapshot.h"
#include "json_text.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::ctl {

namespace {
struct AuditArgs {
    int64_t last = 0;  // 0: every row
    bool csv = false;
    bool json = false;
    bool raw = false;
};

constexpr const char* kEventTypeColumn = "event_type";
constexpr const char* kEventNameColumn = "event_name";
// The columns the table declares INTEGER, which --json writes as numbers.
constexpr const char* kIntegerColumns[] = {"id", "localuser", "event_type", "desktop_type", "dev_type", "result",
                                           "result_sub", "logon_option", "logon_param", "upload_flag"};

std::string ParseAuditArgs(const Args& args, AuditArgs& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--csv") {
            out.csv = true;
        } else if (args[i] == "--json") {
            out.json = true;
        } else if (args[i] == "--raw") {
            out.raw = true;
        } else if (args[i] == "--last") {
            if (i + 1 >= args.size()) return "--last needs a number";
            const std::string& n = args[++i];
            if (n.empty() || n.size() > 18 || n.find_first_not_of("0123456789") != std::string::npos) {
                return "--last needs a positive number, not '" + n + "'";
            }
            out.last = std::stoll(n);
            if (out.last <= 0) return "--last needs a positive number, not '" + n + "'";
        } else {
            return "unknown argument '" + args[i] + "' (usage: audit [--last N] [--csv|--json] [--raw])";
        }
    }
    if (out.csv && out.json) return "--csv and --json cannot be used together";
    return {};
}

// Tabs, line ends and backslashes escaped, as the service's snapshot lines escape them.
std::string TabField(const std::string& value) { return EscapeSnapshotField(value); }

std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

void PrintLine(const std::vector<std::string>& fields, bool csv) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line.push_back(csv ? ',' : '\t');
        line += csv ? CsvField(fields[i]) : TabField(fields[i]);
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
}

bool IsIntegerColumn(const std::string& name) {
    for (const char* column : kIntegerColumns) {
        if (name == column) return true;
    }
    return false;
}

bool IsInteger(const std::string& text) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    if (i >= text.size() || text.size() - i > 19) return false;
    return text.find_first_not_of("0123456789", i) == std::string::npos;
}

// The event's name beside its number: an empty text for NULL or a code without a name.
std::optional<std::string> EventName(const std::optional<std::string>& eventType) {
    if (!eventType || !IsInteger(*eventType) || eventType->size() > 11) return std::string();
    return std::string(AuditEventTypeName(static_cast<int32_t>(std::stoll(*eventType))));
}

// The rows of the audit trail as one JSON array, keyed by column name.
class JsonRows {
public:
    void Columns(const std::vector<std::string>& names) {
        m_names = names;
        m_json.BeginArray();
    }
    void Row(const AuditRowValues& row) {
        m_json.BeginObject();
        for (size_t i = 0; i < row.size() && i < m_names.size(); ++i) {
            m_json.Key(m_names[i]);
            if (!row[i]) {
                m_json.Null();
            } else if (IsIntegerColumn(m_names[i]) && IsInteger(*row[i])) {
                m_json.Number(std::stoll(*row[i]));
            } else {
                m_json.String(*row[i]);
            }
        }
        m_json.EndObject();
    }
    std::string Text() {
        if (m_names.empty()) m_json.BeginArray();
        m_json.EndArray();
        return m_json.Text();
    }

private:
    std::vector<std::string> m_names;
    tools::JsonWriter m_json;
};
}  // namespace

// How many rows wait for the collector, read without changing the file.
int RunAuditPending() {
    posix::PosixSystem system(posix::StateRoot::FromEnvironment());
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(system, directory, path) != 0) return Fail("cannot find the program data folder");
    std::string error;
    const int64_t pending = CountPendingAuditRows(path, kAuditPassphrase, error);
    if (pending < 0) return Fail(error);
    std::printf("%lld\n", static_cast<long long>(pending));
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output");
}

int RunAudit(const Args& args) {
    if (!args.empty() && args[0] == "--pending") {
        if (args.size() != 1) return UsageFail("usage: corvane-ctl audit --pending");
        return RunAuditPending();
    }
    AuditArgs options;
    if (const std::string error = ParseAuditArgs(args, options); !error.empty()) return UsageFail(error);

    posix::PosixSystem system(posix::StateRoot::FromEnvironment());
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(system, directory, path) != 0) return Fail("cannot find the program data folder");

    std::vector<std::string> fields;
    JsonRows json;
    // Where the event's name goes: right after event_type, unless the raw columns are asked for.
    size_t nameAfter = SIZE_MAX;
    const AuditReadResult result = ReadAuditRows(
        path, kAuditPassphrase, options.last,
        [&](const std::vector<std::string>& names) {
            std::vector<std::string> shown = names;
            const auto it = std::find(names.begin(), names.end(), kEventTypeColumn);
            if (!options.raw && it != names.end()) {
                nameAfter = static_cast<size_t>(it - names.begin());
                shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(nameAfter) + 1, kEventNameColumn);
            }
            if (options.json) {
                json.Columns(shown);
            } else {
                PrintLine(shown, options.csv);
            }
        },
        [&](const AuditRowValues& row) {
            AuditRowValues shown = row;
            if (nameAfter < row.size()) {
                shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(nameAfter) + 1, EventName(row[nameAfter]));
            }
            if (options.json) {
                json.Row(shown);
                return;
            }
            fields.clear();
            for (const auto& value : shown) fields.push_back(value.value_or(""));
            PrintLine(fields, options.csv);
        });
    if (!result.bOk) return Fail(result.strError);
    if (options.json) {
        const std::string text = json.Text();
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace corvane::ctl
