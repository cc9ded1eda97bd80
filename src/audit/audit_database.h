// The encrypted audit database "Corvane.dat" in <program data>\Corvane: one SQLite connection,
// opened on first use and kept for the life of the object, shared by every thread that inserts
// (SQLite runs in its serialized mode). Each page of the file is enciphered with AES-128 under
// the compiled-in passphrase. A file that cannot be read with that passphrase is never written.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "audit/audit_passphrase.h"
#include "platform/platform.h"

struct sqlite3;

namespace corvane {

inline constexpr std::u16string_view kAuditFolderName = u"Corvane";
inline constexpr std::u16string_view kAuditFileName = u"Corvane.dat";
inline constexpr std::string_view kAuditTableName = "vsc_log";

// <program data>\Corvane\Corvane.dat and its directory. 0 or the error of the folder lookup.
uint32_t GetAuditDbPath(ISystem& system, std::u16string& directory, std::u16string& path);

struct AuditDbSettings {
    AuditPassphrase passphrase = kAuditPassphrase;
    // The SQLite VFS to open the file through; empty for the platform's own.
    std::string vfs;
};

class CAuditDatabase {
public:
    explicit CAuditDatabase(Platform& platform, AuditDbSettings settings = {});
    ~CAuditDatabase();  // closes the connection
    CAuditDatabase(const CAuditDatabase&) = delete;
    CAuditDatabase& operator=(const CAuditDatabase&) = delete;

    // Opens, keys, checks and prepares the database unless a usable connection exists already.
    // Two threads that arrive together open it once. True when a usable connection exists.
    bool OpenAuditDb();
    // Runs one statement (opening the database first when needed), retrying while it is busy.
    bool ExecAudit(std::u16string_view sql);
    bool ExecAuditUtf8(std::string_view sql);
    bool IsOpen() const { return m_pDb.load() != nullptr; }
    // Called after every statement that succeeded (the audit shipper looks for new rows then).
    // Set before any insert runs.
    void SetOnWritten(std::function<void()> onWritten) { m_onWritten = std::move(onWritten); }

    static constexpr int kBusyHandlerTries = 100;
    static constexpr int kExecRetries = 100;
    static constexpr uint32_t kRetryDelayMs = 10;

private:
    static int BusyHandler(void* context, int count);
    sqlite3* OpenAndPrepare();

    Platform& m_platform;
    AuditDbSettings m_settings;
    std::mutex m_openMutex;               // serialises the first open
    std::atomic<sqlite3*> m_pDb {nullptr};  // null until opened; closed only by the destructor
    std::function<void()> m_onWritten;
};

}  // namespace corvane
