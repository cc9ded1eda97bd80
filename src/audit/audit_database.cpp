#include "audit/audit_database.h"

#include <sqlite3.h>

#include <string>

#include "audit/audit_schema.h"
#include "audit/audit_upload_schema.h"
#include "audit/cipher_vfs.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr const char* kCheckKeySql = "SELECT name FROM sqlite_master WHERE 1=2;";
constexpr const char* kTableExistsSql = "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='vsc_log';";
constexpr const char* kMigrateLocalUserSql = "ALTER TABLE vsc_log ADD localuser INTEGER;";

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Whether the table is known to be missing. A failed lookup (busy, unreadable) is not taken for
// a missing table: the schema script drops the table first, and that must never hit live rows.
bool TableIsMissing(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, kTableExistsSql, -1, &stmt, nullptr) != SQLITE_OK) return false;
    const bool missing = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 0;
    sqlite3_finalize(stmt);
    return missing;
}

// The schema script as one call, inside one transaction so that a failure halfway (a full disk)
// leaves no table without its indexes behind.
bool CreateSchema(sqlite3* db) {
    if (!Exec(db, "BEGIN IMMEDIATE;")) return false;
    const std::string script(AuditSchemaScript());  // copied into a NUL-terminated buffer
    if (Exec(db, script) && Exec(db, "COMMIT;")) return true;
    Exec(db, "ROLLBACK;");
    return false;
}
}  // namespace

uint32_t GetAuditDbPath(ISystem& system, std::u16string& directory, std::u16string& path) {
    std::u16string programData;
    if (const uint32_t rc = system.GetProgramDataFolder(programData)) return rc;
    directory = system.JoinPath(programData, kAuditFolderName);
    path = system.JoinPath(directory, kAuditFileName);
    return 0;
}

CAuditDatabase::CAuditDatabase(Platform& platform, AuditDbSettings settings)
    : m_platform(platform), m_settings(std::move(settings)) {}

CAuditDatabase::~CAuditDatabase() {
    if (sqlite3* db = m_pDb.exchange(nullptr)) sqlite3_close_v2(db);
}

int CAuditDatabase::BusyHandler(void* context, int count) {
    if (count >= kBusyHandlerTries) return 0;
    static_cast<CAuditDatabase*>(context)->m_platform.clock->Sleep(kRetryDelayMs);
    return 1;
}

bool CAuditDatabase::OpenAuditDb() {
    if (m_pDb.load() != nullptr) return true;
    // Threads that insert at the same moment on a fresh start open the database once.
    std::lock_guard<std::mutex> lock(m_openMutex);
    if (m_pDb.load() != nullptr) return true;
    sqlite3* db = OpenAndPrepare();
    if (db == nullptr) return false;
    m_pDb.store(db);
    return true;
}

sqlite3* CAuditDatabase::OpenAndPrepare() {
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(*m_platform.system, directory, path) != 0) return nullptr;
    if (m_platform.system->CreateDirectories(directory) != 0) return nullptr;

    sqlite3* db = nullptr;
    const std::string utf8Path = Utf16ToUtf8(path);
    const std::string vfs = CipherVfsName(m_settings.vfs);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(utf8Path.c_str(), &db, flags, vfs.empty() ? nullptr : vfs.c_str()) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    // A file that could only be opened read-only would keep a connection on which every insert
    // fails, long after the file became writable again: treat it as not opened, so that a later
    // insert tries again.
    if (sqlite3_db_readonly(db, "main") != 0) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_handler(db, &CAuditDatabase::BusyHandler, this);
    if (sqlite3_key_v2(db, "main", m_settings.passphrase.data(), static_cast<int>(m_settings.passphrase.size())) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    // The first read of the file: a wrong passphrase or a file that is not a database fails
    // here, before anything is written.
    sqlite3_stmt* check = nullptr;
    if (sqlite3_prepare_v2(db, kCheckKeySql, -1, &check, nullptr) != SQLITE_OK) {
        sqlite3_finalize(check);
        sqlite3_close(db);
        return nullptr;
    }
    bool ready = true;
    const std::string table(kAuditTableName);
    if (!Exec(db, FormatUtf8("SELECT * FROM %s WHERE 1=2;", table.c_str()))) {
        ready = TableIsMissing(db) && CreateSchema(db);
    } else if (!Exec(db, FormatUtf8("SELECT %s FROM %s WHERE 1=2;", "localuser", table.c_str()))) {
        // A database made before the column existed.
        ready = Exec(db, kMigrateLocalUserSql);
    }
    sqlite3_finalize(check);
    if (!ready) {
        sqlite3_close(db);
        return nullptr;
    }
    // The upload's index and the database's id; inserts do not depend on them, so a failure
    // here leaves the work to the shipper's own open.
    EnsureAuditUploadSchema(db, *m_platform.system);
    return db;
}

bool CAuditDatabase::ExecAudit(std::u16string_view sql) { return ExecAuditUtf8(Utf16ToUtf8(sql)); }

bool CAuditDatabase::ExecAuditUtf8(std::string_view sql) {
    if (!OpenAuditDb()) return false;
    sqlite3* db = m_pDb.load();
    const std::string statement(sql);
    int rc = sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
    for (int retries = 0; rc == SQLITE_BUSY && retries < kExecRetries; ++retries) {
        m_platform.clock->Sleep(kRetryDelayMs);
        rc = sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK && m_onWritten) m_onWritten();
    return rc == SQLITE_OK;
}

}  // namespace corvane
