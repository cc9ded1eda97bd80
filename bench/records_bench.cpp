// The records: rows per second of the session-event insert through the audit database, next to
// the same statement run through the raw SQLite API on the same file; text event-log lines per
// second from 4 threads, next to plain stdio appends serialised the same way.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "audit/audit_statements.h"
#include "config/configuration.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "session/event_log.h"

namespace corvane {
namespace {

// One state root for the whole run, removed at exit; the native POSIX backend lives under it.
class BenchRoot {
public:
    BenchRoot() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/corvane-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        m_path = pattern;
        ::setenv("CORVANE_ROOT", m_path.c_str(), 1);
        m_native = CreateNativePlatform();
        m_config.g_strComputerName = u"PC1";
        m_db = std::make_unique<CAuditDatabase>(m_native->Get());
        m_log = std::make_unique<CAuditLog>(*m_db, *m_native->Get().clock, m_config);
        m_eventLog = std::make_unique<CEventLog>(m_native->Get());
    }
    ~BenchRoot() {
        m_eventLog.reset();
        m_log.reset();
        m_db.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    Platform& Get() { return m_native->Get(); }
    CAuditLog& AuditLog() { return *m_log; }
    CEventLog& EventLog() { return *m_eventLog; }
    std::string DbPath() {
        std::u16string directory;
        std::u16string path;
        GetAuditDbPath(*Get().system, directory, path);
        return Utf16ToUtf8(path);
    }

private:
    std::string m_path;
    std::unique_ptr<NativePlatform> m_native;
    Configuration m_config;
    std::unique_ptr<CAuditDatabase> m_db;
    std::unique_ptr<CAuditLog> m_log;
    std::unique_ptr<CEventLog> m_eventLog;
};

BenchRoot& Root() {
    static BenchRoot root;
    return root;
}

const AuditUser kUser {u"CONTOSO", u"anna"};

void InsertSessionEventCorvane(benchmark::State& state) {
    CAuditLog& log = Root().AuditLog();
    if (!log.InsertSessionEvent(kUser, 7, std::nullopt, u"Console", 1)) state.SkipWithError("cannot open the database");
    for (auto _ : state) {
        if (!log.InsertSessionEvent(kUser, 7, std::nullopt, u"Console", 1)) state.SkipWithError("insert failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void InsertSessionEventSqlite(benchmark::State& state) {
    // The same file (made by the run above or here), the same key, the same statement text.
    Root().AuditLog().InsertSessionEvent(kUser, 7, std::nullopt, u"Console", 1);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(Root().DbPath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_key_v2(db, "main", kAuditPassphrase.data(), static_cast<int>(kAuditPassphrase.size())) != SQLITE_OK) {
        state.SkipWithError("cannot open the database");
    }
    const std::string sql = FormatSessionInsert({u"CONTOSO", u"anna", 0, 7, u"2026-01-01 00:00:00", 1, 0, 0});
    for (auto _ : state) {
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) state.SkipWithError("insert failed");
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

void EventLogLineCorvane(benchmark::State& state) {
    CEventLog& log = Root().EventLog();
    for (auto _ : state) log.WriteEventLine(u"System:PC1|2|CONTOSO\\anna|Unlock|Console");
    state.SetItemsProcessed(state.iterations());
}

void EventLogLineStdio(benchmark::State& state) {
    static std::mutex mutex;
    const std::string path = Utf16ToUtf8(Root().EventLog().GetPath()) + ".stdio";
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(mutex);
        if (FILE* f = std::fopen(path.c_str(), "a")) {
            std::fputs("2026-01-01 01:00:00 System:PC1|2|CONTOSO\\anna|Unlock|Console\n", f);
            std::fclose(f);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("InsertSessionEvent/corvane", InsertSessionEventCorvane)->UseRealTime();
    benchmark::RegisterBenchmark("InsertSessionEvent/sqlite", InsertSessionEventSqlite)->UseRealTime();
    benchmark::RegisterBenchmark("EventLogLine/corvane", EventLogLineCorvane)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("EventLogLine/stdio", EventLogLineStdio)->Threads(4)->UseRealTime();
    return true;
}();

}  // namespace
}  // namespace corvane
