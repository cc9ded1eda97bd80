#include "audit/audit_outbox.h"

#include <sqlite3.h>

#include "audit/audit_upload_schema.h"
#include "audit/cipher_vfs.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr int kBusyTimeoutMs = 2000;
constexpr const char* kPendingSql = "SELECT * FROM vsc_log WHERE upload_flag = 0 AND id > ?1 ORDER BY id LIMIT ?2;";
constexpr const char* kMarkSql = "UPDATE vsc_log SET upload_flag = 1, upload_time = ?1 WHERE id = ?2;";
constexpr const char* kCountSql = "SELECT count(*) FROM vsc_log WHERE upload_flag = 0;";

int64_t CountWith(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    int64_t count = -1;
    if (sqlite3_prepare_v2(db, kCountSql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        count = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return count;
}
}  // namespace

CAuditOutbox::CAuditOutbox(Platform& platform, AuditDbSettings settings)
    : m_platform(platform), m_settings(std::move(settings)) {}

CAuditOutbox::~CAuditOutbox() { CloseDb(); }

void CAuditOutbox::CloseDb() {
    if (m_pDb != nullptr) sqlite3_close_v2(m_pDb);
    m_pDb = nullptr;
    m_columns.clear();
    m_strDbId.clear();
}

bool CAuditOutbox::Open(std::string& error) {
    if (m_pDb != nullptr) return true;
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(*m_platform.system, directory, path) != 0) {
        error = "the program-data folder cannot be found";
        return false;
    }
    const std::string utf8Path = Utf16ToUtf8(path);
    const std::string vfs = CipherVfsName(m_settings.vfs);
    // The service's own connection makes the file; until it exists there is nothing to send.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(utf8Path.c_str(), &m_pDb, flags, vfs.empty() ? nullptr : vfs.c_str()) != SQLITE_OK) {
        error = "cannot open " + utf8Path + ": " + (m_pDb ? sqlite3_errmsg(m_pDb) : "out of memory");
        CloseDb();
        return false;
    }
    sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
    sqlite3_stmt* stmt = nullptr;
    const bool keyed = sqlite3_key_v2(m_pDb, "main", m_settings.passphrase.data(),
                                      static_cast<int>(m_settings.passphrase.size())) == SQLITE_OK;
    if (!keyed || sqlite3_prepare_v2(m_pDb, "SELECT * FROM vsc_log WHERE 1=2;", -1, &stmt, nullptr) != SQLITE_OK) {
        error = "cannot read the audit table of " + utf8Path + ": " + sqlite3_errmsg(m_pDb);
        sqlite3_finalize(stmt);
        CloseDb();
        return false;
    }
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        m_columns.emplace_back(name ? name : "");
    }
    sqlite3_finalize(stmt);
    if (!EnsureAuditUploadSchema(m_pDb, *m_platform.system) || (m_strDbId = ReadAuditDbId(m_pDb)).empty()) {
        error = "cannot prepare the upload index and the database id of " + utf8Path + ": " + sqlite3_errmsg(m_pDb);
        CloseDb();
        return false;
    }
    return true;
}

bool CAuditOutbox::ReadPending(int64_t afterId, size_t limit, std::vector<AuditOutboxRow>& rows) {
    rows.clear();
    if (m_pDb == nullptr) return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_pDb, kPendingSql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    sqlite3_bind_int64(stmt, 1, afterId);
    sqlite3_bind_int64(stmt, 2, static_cast<sqlite3_int64>(limit));
    const int columns = sqlite3_column_count(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        AuditOutboxRow row;
        row.nId = sqlite3_column_int64(stmt, 0);
        row.values.resize(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i) {
            if (sqlite3_column_type(stmt, i) == SQLITE_NULL) continue;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            const int size = sqlite3_column_bytes(stmt, i);
            row.values[static_cast<size_t>(i)] = std::string(text ? text : "", text ? static_cast<size_t>(size) : 0);
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

bool CAuditOutbox::MarkUploaded(const std::vector<int64_t>& ids, const std::string& uploadTime) {
    if (m_pDb == nullptr) return false;
    if (ids.empty()) return true;
    if (sqlite3_exec(m_pDb, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(m_pDb, kMarkSql, -1, &stmt, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < ids.size(); ++i) {
        sqlite3_reset(stmt);
        ok = sqlite3_bind_text(stmt, 1, uploadTime.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
             sqlite3_bind_int64(stmt, 2, ids[i]) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
    if (ok && sqlite3_exec(m_pDb, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    sqlite3_exec(m_pDb, "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
}

int64_t CAuditOutbox::CountPending() { return m_pDb == nullptr ? -1 : CountWith(m_pDb); }

int64_t CountPendingAuditRows(const std::u16string& path, const AuditPassphrase& passphrase, std::string& error) {
    const std::string utf8Path = Utf16ToUtf8(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(utf8Path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        error = "cannot open " + utf8Path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return -1;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    int64_t count = -1;
    if (sqlite3_key_v2(db, "main", passphrase.data(), static_cast<int>(passphrase.size())) == SQLITE_OK) {
        count = CountWith(db);
    }
    if (count < 0) error = "cannot read the audit table of " + utf8Path + ": " + sqlite3_errmsg(db);
    sqlite3_close(db);
    return count;
}

}  // namespace corvane
