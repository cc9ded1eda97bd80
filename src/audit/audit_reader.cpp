#include "audit/audit_reader.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

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

namespace {
// The reason behind a failed read of the file's first pages.
std::string ReadFailure(sqlite3* db) {
    switch (sqlite3_errcode(db)) {
        case SQLITE_NOTADB: return "is not a database, or is enciphered with another key";
        case SQLITE_CORRUPT: return std::string("is damaged (") + sqlite3_errmsg(db) + ")";
        default: return std::string("cannot be read (") + sqlite3_errmsg(db) + ")";
    }
}

// Runs a one-row query to its end; false when reading the pages it needs fails.
bool ReadsThrough(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}
bool HasAuditTable(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='vsc_log';", -1, &stmt,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    const bool found = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) > 0;
    sqlite3_finalize(stmt);
    return found;
}
}  // namespace

std::string ProbeAuditFile(const std::u16string& path, const AuditPassphrase& passphrase) {
    const std::string utf8Path = Utf16ToUtf8(path);
    std::error_code ec;
    const auto status = std::filesystem::status(utf8Path, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) return {};
        return "cannot be examined (" + ec.message() + ")";
    }
    if (status.type() == std::filesystem::file_type::not_found) return {};
    if (status.type() == std::filesystem::file_type::directory) return "is a directory, not a database file";
    if (status.type() != std::filesystem::file_type::regular) return "is not a regular file";

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(utf8Path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string reason = std::string("cannot be opened (") + (db ? sqlite3_errmsg(db) : "out of memory") + ")";
        sqlite3_close(db);
        return reason;
    }
    sqlite3_busy_timeout(db, kReadBusyTimeoutMs);
    std::string reason;
    if (sqlite3_key_v2(db, "main", passphrase.data(), static_cast<int>(passphrase.size())) != SQLITE_OK) {
        reason = std::string("cannot be keyed (") + sqlite3_errmsg(db) + ")";
    } else if (!ReadsThrough(db, "SELECT count(*) FROM sqlite_master;")) {
        reason = ReadFailure(db);
    } else if (HasAuditTable(db) && !ReadsThrough(db, "SELECT count(*) FROM vsc_log;")) {
        // The table's own pages: a file cut short reads its first page and fails here.
        reason = ReadFailure(db);
    }
    sqlite3_close(db);
    return reason;
}

}  // namespace corvane
