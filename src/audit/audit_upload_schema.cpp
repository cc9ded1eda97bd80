#include "audit/audit_upload_schema.h"

#include <sqlite3.h>

#include <array>

namespace corvane {

namespace {
constexpr const char* kCreateIndexSql = "CREATE INDEX IF NOT EXISTS index_vsc_log_upload ON vsc_log (upload_flag);";
constexpr const char* kCreateIdTableSql = "CREATE TABLE IF NOT EXISTS vsc_db_id (db_id TEXT NOT NULL);";
constexpr const char* kReadIdSql = "SELECT db_id FROM vsc_db_id LIMIT 1;";
constexpr const char* kInsertIdSql = "INSERT INTO vsc_db_id (db_id) VALUES (?1);";

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool HasIndex(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE type='index' AND name='index_vsc_log_upload';",
                           -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    const bool found = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) > 0;
    sqlite3_finalize(stmt);
    return found;
}

std::string Hex(const uint8_t* bytes, size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}
}  // namespace

std::string ReadAuditDbId(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    std::string id;
    if (sqlite3_prepare_v2(db, kReadIdSql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) id = text;
    }
    sqlite3_finalize(stmt);
    return id;
}

bool EnsureAuditUploadSchema(sqlite3* db, ISystem& system) {
    // Nothing to write on every later open: a read decides.
    if (HasIndex(db) && !ReadAuditDbId(db).empty()) return true;
    std::array<uint8_t, kAuditDbIdBytes> random {};
    if (system.GenRandom(random.data(), random.size()) != 0) return false;
    if (!Exec(db, "BEGIN IMMEDIATE;")) return false;
    bool ok = Exec(db, kCreateIndexSql) && Exec(db, kCreateIdTableSql);
    // Another connection may have made the id between the read above and this transaction.
    if (ok && ReadAuditDbId(db).empty()) {
        sqlite3_stmt* stmt = nullptr;
        const std::string id = Hex(random.data(), random.size());
        ok = sqlite3_prepare_v2(db, kInsertIdSql, -1, &stmt, nullptr) == SQLITE_OK &&
             sqlite3_bind_text(stmt, 1, id.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
             sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
    }
    if (ok && Exec(db, "COMMIT;")) return true;
    Exec(db, "ROLLBACK;");
    return false;
}

}  // namespace corvane
