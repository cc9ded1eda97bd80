// Ships every audit row to the collector, once it is configured: on its own thread with its own
// database connection, so that it never holds up the session monitor or the device workers. Rows
// go in id order over the reliable logging session, at most a window of them unacknowledged; a
// row is marked sent only once the collector acknowledged it with 200, so a dropped connection
// or a killed service sends again what was in flight (at least once, never lost). A collector
// that cannot be reached is tried again after a back-off of 1 s growing to 60 s.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audit/audit_outbox.h"
#include "platform/clock.h"
#include "platform/diagnostic_log.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "platform/tls_streams.h"
#include "upload/audit_collector_config.h"
#include "upload/audit_syslog_message.h"
#include "upload/relp_session.h"

namespace corvane {

struct AuditShipperStatus {
    bool bEnabled = false;
    bool bConnected = false;
    std::string strHost;
    uint16_t wPort = 0;
    int64_t nLastAckedId = 0;  // the highest row id the collector acknowledged; 0 for none yet
    uint32_t nBackoffMs = 0;   // the wait before the next attempt, 0 when none
    std::string strLastError;
};

// The status as one line for the control tool: "audit shipper: connected to host:port, last
// acknowledged row 42, back-off 0 ms" and the like.
std::string FormatAuditShipperStatus(const AuditShipperStatus& status);

struct AuditShipperDeps {
    IClock* clock = nullptr;
    IThreads* threads = nullptr;
    ISystem* system = nullptr;          // random values for the back-off
    ITlsStreams* tlsStreams = nullptr;  // null: no TLS on this platform, nothing is shipped
    IAuditOutbox* outbox = nullptr;
    DiagnosticLog* diagnostics = nullptr;
};

class CAuditShipper {
public:
    static constexpr uint32_t kIdlePollMs = 1000;     // how often an idle shipper looks for new rows
    static constexpr uint32_t kReplyWaitMs = 30000;   // a collector silent this long with rows outstanding is dropped
    static constexpr uint32_t kCloseWaitMs = 1000;    // for the answer to "close" when stopping
    static constexpr uint32_t kStopWaitMs = 15000;

    // `identity` gives the computer name and host GUID; the database id comes from the outbox.
    CAuditShipper(const AuditShipperDeps& deps, AuditSyslogIdentity identity);
    ~CAuditShipper();
    CAuditShipper(const CAuditShipper&) = delete;
    CAuditShipper& operator=(const CAuditShipper&) = delete;

    // Who sends; takes effect at the next start of the thread (Apply with a new configuration).
    void SetIdentity(AuditSyslogIdentity identity);
    // Takes a (re)read configuration: starts shipping, stops it, or reconnects with the new
    // settings. A configuration equal to the one in force changes nothing.
    void Apply(const AuditCollectorConfig& config);
    // Ends the session and the thread, waiting for it at most kStopWaitMs (the service's stop
    // sequence may not hang on a collector); the destructor waits for it in any case.
    void Stop();
    // Looks for new rows now instead of at the next poll.
    void Wake() { m_wake.Wake(); }
    AuditShipperStatus Status();

private:
    void Run(AuditCollectorConfig config);
    bool Connect(const AuditCollectorConfig& config, std::unique_ptr<ITlsStream>& stream, CRelpClientSession& session,
                 std::string& error);
    bool ReadFrames(ITlsStream& stream, CRelpClientSession& session, uint32_t waitMs, std::vector<int64_t>& acked,
                    bool& opened, std::string& error);
    void SetError(const std::string& error, uint32_t backoffMs);
    void WaitFinished();
    std::string UploadTimeText();
    uint32_t Random();

    AuditShipperDeps m_deps;
    AuditSyslogIdentity m_identity;
    CRelpReplyParser m_parser;
    WakeSignal m_wake;

    std::mutex m_mutex;  // guards what follows
    std::condition_variable m_finished;
    bool m_bRunning = false;
    AuditCollectorConfig m_config;
    AuditShipperStatus m_status;
    std::atomic<bool> m_bStop {false};
};

}  // namespace corvane
