#include "audit/audit_reader.h"

#include <sqlite3.h>

#include "platform/text.h"

namespace corvane {

namespace {
constexpr int kReadBusyTimeoutMs = 5000;

AuditReadResult Fail(sqlite3* db, const std::string& what) {
    AuditReadResult result;
    result.strError = what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    if (db) sqlite3_close(db);
    return result;
}
}  // namespace

AuditReadResult ReadAuditRows(const std::u16string& path, const AuditPassphrase& passphrase, int64_t last,
                              const std::function<void(const std::vector<std::string>&)>& onColumns,
                              const std::function<void(const AuditRowValues&)>& onRow) {
    const std::string utf8Path = Utf16ToUtf8(path);
    sqlite3* db = nullptr;
    // Read-only: the reader never creates, migrates or rolls back anything in the file.
    if (sqlite3_open_v2(utf8Path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        return Fail(db, "cannot open " + utf8Path);
    }
    sqlite3_busy_timeout(db, kReadBusyTimeoutMs);
    if (sqlite3_key_v2(db, "main", passphrase.data(), static_cast<int>(passphrase.size())) != SQLITE_OK) {
        return Fail(db, "cannot key " + utf8Path);
    }
    const char* sql = last > 0 ? "SELECT * FROM (SELECT * FROM vsc_log ORDER BY id DESC LIMIT ?1) ORDER BY id;"
                               : "SELECT * FROM vsc_log ORDER BY id;";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return Fail(db, "cannot read the audit table of " + utf8Path);
    }
    if (last > 0) sqlite3_bind_int64(stmt, 1, last);

    const int columns = sqlite3_column_count(stmt);
    std::vector<std::string> names;
    for (int i = 0; i < columns; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        names.emplace_back(name ? name : "");
    }
    if (onColumns) onColumns(names);

    AuditRowValues row(static_cast<size_t>(columns));
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i) {
            if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                row[static_cast<size_t>(i)].reset();
            } else {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                const int size = sqlite3_column_bytes(stmt, i);
                row[static_cast<size_t>(i)] = std::string(text ? text : "", text ? static_cast<size_t>(size) : 0);
            }
        }
        if (onRow) onRow(row);
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return Fail(db, "reading " + utf8Path + " failed");
    sqlite3_close(db);
    AuditReadResult result;
    result.bOk = true;
    return result;
}

}  // namespace corvane
