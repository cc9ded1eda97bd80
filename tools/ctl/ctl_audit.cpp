// audit [--last N] [--csv]: prints the audit trail of $CORVANE_ROOT, so that an administrator can
// read it without writing SQL. The database is opened read-only with the service's passphrase.
// First line: the column names; then one row per line, oldest first, tab-separated (with \t,
// \n, \r and \\ escaped inside values) or as CSV (RFC 4180 quoting). NULL prints as nothing.
#include <cstdio>
#include <string>
#include <vector>

#include "audit/audit_database.h"
#include "audit/audit_reader.h"
#include "ctl_commands.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::ctl {

namespace {
struct AuditArgs {
    int64_t last = 0;  // 0: every row
    bool csv = false;
};

std::string ParseAuditArgs(const Args& args, AuditArgs& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--csv") {
            out.csv = true;
        } else if (args[i] == "--last") {
            if (i + 1 >= args.size()) return "--last needs a number";
            const std::string& n = args[++i];
            if (n.empty() || n.size() > 18 || n.find_first_not_of("0123456789") != std::string::npos) {
                return "--last needs a positive number, not '" + n + "'";
            }
            out.last = std::stoll(n);
            if (out.last <= 0) return "--last needs a positive number, not '" + n + "'";
        } else {
            return "unknown argument '" + args[i] + "' (usage: audit [--last N] [--csv])";
        }
    }
    return {};
}

std::string TabField(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
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
}  // namespace

int RunAudit(const Args& args) {
    AuditArgs options;
    if (const std::string error = ParseAuditArgs(args, options); !error.empty()) return UsageFail(error);

    posix::PosixSystem system(posix::StateRoot::FromEnvironment());
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(system, directory, path) != 0) return Fail("cannot find the program data folder");

    std::vector<std::string> fields;
    const AuditReadResult result = ReadAuditRows(
        path, kAuditPassphrase, options.last,
        [&](const std::vector<std::string>& names) { PrintLine(names, options.csv); },
        [&](const AuditRowValues& row) {
            fields.clear();
            for (const auto& value : row) fields.push_back(value.value_or(""));
            PrintLine(fields, options.csv);
        });
    if (!result.bOk) return Fail(result.strError);
    if (std::fflush(stdout) != 0) return Fail("cannot write the output");
    return 0;
}

}  // namespace corvane::ctl
