// The audit statements carry names that come from outside (users, domains, phone and reader
// names, the logon component's error text). Whatever they hold, the statement must insert
// exactly one row and store every value as given: no quote may end a value early.
//
// Input: up to five values separated by 0xFF bytes, each UTF-8 (malformed sequences are taken
// as the service takes them), for the five text columns that hold outside names. The time is the
// service's own text (a numeric-looking text there would be stored as a number by the column's
// DATETIME affinity, which is not about quoting).
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audit/audit_schema.h"
#include "audit/audit_statements.h"
#include "platform/text.h"

namespace {

sqlite3* Database() {
    static sqlite3* db = [] {
        sqlite3* handle = nullptr;
        if (sqlite3_open(":memory:", &handle) != SQLITE_OK) std::abort();
        const std::string script(corvane::AuditSchemaScript());
        if (sqlite3_exec(handle, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
        return handle;
    }();
    return db;
}

// What the service stores for a value: its UTF-8 form, up to the first NUL.
std::string Stored(const std::u16string& value) {
    std::string utf8 = corvane::Utf16ToUtf8(value);
    return utf8.substr(0, utf8.find('\0'));
}

std::string Column(sqlite3_stmt* stmt, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, i))) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::u16string> values(5);
    size_t field = 0;
    std::string current;
    for (size_t i = 0; i < size && field < values.size(); ++i) {
        if (data[i] == 0xFF) {
            values[field++] = corvane::Utf8ToUtf16(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (field < values.size()) values[field] = corvane::Utf8ToUtf16(current);

    corvane::DeviceRowValues row;
    row.logonServer = values[0];
    row.userName = values[1];
    row.eventTime = u"2026-01-01 00:00:00";
    row.devGuid = values[2];
    row.devName = values[3];
    row.errMsg = values[4];
    row.eventType = 101;
    const std::string sql = corvane::FormatDeviceInsert(row);

    sqlite3* db = Database();
    if (sqlite3_exec(db, "DELETE FROM vsc_log;", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();

    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT logon_server, user_name, dev_guid, dev_name, err_msg, event_type, "
                           "(SELECT count(*) FROM vsc_log) FROM vsc_log;",
                           -1, &stmt, nullptr) != SQLITE_OK ||
        sqlite3_step(stmt) != SQLITE_ROW) {
        std::abort();
    }
    for (int i = 0; i < 5; ++i) {
        if (Column(stmt, i) != Stored(values[static_cast<size_t>(i)])) std::abort();
    }
    if (sqlite3_column_int(stmt, 5) != 101 || sqlite3_column_int(stmt, 6) != 1) std::abort();
    sqlite3_finalize(stmt);
    return 0;
}
