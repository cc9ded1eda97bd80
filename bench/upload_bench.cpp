// The audit upload: rows shipped per second by the shipper (read in id order, formatted, framed,
// acknowledged, marked sent on its own connection) next to rows inserted per second by the audit
// log on the same disk; below 1.0 the shipper keeps up with the inserts. The collector is one in
// memory that acknowledges at once, so that the figure is the shipper's own cost, not the network's.
// AuditShipperIdle reports the wake-ups per second of an idle, connected shipper.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "audit/audit_outbox.h"
#include "config/configuration.h"
#include "platform/platform.h"
#include "upload/audit_shipper.h"
#include "upload/relp_frame.h"

namespace corvane {
namespace {

// A collector in memory: answers "open" and acknowledges every message at once.
class MemoryCollector final : public ITlsStreams, public ITlsStream {
public:
    std::unique_ptr<ITlsStream> Connect(const TlsClientSettings&, std::string&) override {
        struct Handle final : ITlsStream {
            explicit Handle(MemoryCollector& c) : c(c) {}
            TlsIo Send(const void* d, size_t n) override { return c.Send(d, n); }
            TlsIo Receive(void* b, size_t n, size_t& r, uint32_t t) override { return c.Receive(b, n, r, t); }
            MemoryCollector& c;
        };
        return std::make_unique<Handle>(*this);
    }
    TlsIo Send(const void* data, size_t size) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_parser.Append(data, size);
        RelpFrame frame;
        while (m_parser.Next(frame) == RelpParse::Frame) {
            m_replies += EncodeRelpFrame(frame.nTxnr, "rsp",
                                         frame.strCommand == "open" ? "200 OK\ncommands=syslog" : "200 OK");
        }
        m_ready.notify_all();
        return TlsIo::Ok;
    }
    TlsIo Receive(void* buffer, size_t size, size_t& received, uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_receives;
        received = 0;
        if (!m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_replies.empty(); })) {
            return TlsIo::TimedOut;
        }
        received = std::min(size, m_replies.size());
        m_replies.copy(static_cast<char*>(buffer), received);
        m_replies.erase(0, received);
        return TlsIo::Ok;
    }
    uint64_t Receives() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_receives;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    CRelpReplyParser m_parser {1 << 20};
    std::string m_replies;
    uint64_t m_receives = 0;
};

class UploadRoot {
public:
    UploadRoot() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/corvane-upload-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        m_path = pattern;
        ::setenv("CORVANE_ROOT", m_path.c_str(), 1);
        m_native = CreateNativePlatform();
        m_config.g_strComputerName = u"PC1";
        Platform& p = m_native->Get();
        db = std::make_unique<CAuditDatabase>(p);
        log = std::make_unique<CAuditLog>(*db, *p.clock, m_config);
        outbox = std::make_unique<CAuditOutbox>(p);
        shipper = std::make_unique<CAuditShipper>(
            AuditShipperDeps {p.clock, p.threads, p.system, &collector, outbox.get(), p.diagnostics},
            AuditSyslogIdentity {"PC1", "{11111111-2222-3333-4444-555555555555}", ""});
    }
    ~UploadRoot() {
        shipper.reset();
        outbox.reset();
        log.reset();
        db.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    void Start() {
        // The file exists before the shipper looks for it, so that no back-off is timed.
        log->InsertSessionEvent({u"CONTOSO", u"anna"}, 7, std::nullopt, u"Console", 1);
        AuditCollectorConfig config;
        config.bEnabled = true;
        config.tls.strHost = "collector";
        config.tls.wPort = 2514;
        shipper->Apply(config);
    }

    MemoryCollector collector;
    std::unique_ptr<CAuditDatabase> db;
    std::unique_ptr<CAuditLog> log;
    std::unique_ptr<CAuditOutbox> outbox;
    std::unique_ptr<CAuditShipper> shipper;

private:
    std::string m_path;
    std::unique_ptr<NativePlatform> m_native;
    Configuration m_config;
};

UploadRoot& Root() {
    static UploadRoot root;
    return root;
}

const AuditUser kUser {u"CONTOSO", u"anna"};
// Both sides handle the same batch of rows per iteration, so that their times compare directly.
constexpr int kBatch = 100;

// Rows shipped: each iteration writes a batch of rows (not timed, in one transaction), then times
// the shipper until the collector acknowledged the last of them.
void AuditRowCorvane(benchmark::State& state) {
    UploadRoot& root = Root();
    root.Start();
    int64_t last = 0;
    while ((last = root.shipper->Status().nLastAckedId) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (auto _ : state) {
        state.PauseTiming();
        root.db->ExecAuditUtf8("BEGIN;");
        for (int i = 0; i < kBatch; ++i) root.log->InsertSessionEvent(kUser, 7, std::nullopt, u"Console", 1);
        root.db->ExecAuditUtf8("COMMIT;");
        last += kBatch;
        state.ResumeTiming();
        root.shipper->Wake();
        while (root.shipper->Status().nLastAckedId < last) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Rows inserted by the audit log on the same disk, one statement (and one sync) per row as the
// service writes them.
void AuditRowInsert(benchmark::State& state) {
    UploadRoot& root = Root();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            if (!root.log->InsertSessionEvent(kUser, 7, std::nullopt, u"Console", 1)) state.SkipWithError("insert failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// An idle, connected shipper: its wake-ups (waits for the collector that ended) per second.
void AuditShipperIdle(benchmark::State& state) {
    UploadRoot& root = Root();
    root.Start();
    std::this_thread::sleep_for(std::chrono::seconds(1));  // past the session's opening and any backlog
    for (auto _ : state) {
        const uint64_t before = root.collector.Receives();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        state.counters["wakeups_per_s"] = static_cast<double>(root.collector.Receives() - before) / 3.0;
    }
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("AuditRow/corvane", AuditRowCorvane)->Iterations(3)->UseRealTime();
    benchmark::RegisterBenchmark("AuditRow/insert", AuditRowInsert)->Iterations(3)->UseRealTime();
    benchmark::RegisterBenchmark("AuditShipperIdle", AuditShipperIdle)->Iterations(1)->UseRealTime();
    return true;
}();

}  // namespace
}  // namespace corvane
