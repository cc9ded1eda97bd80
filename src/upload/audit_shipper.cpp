#include "upload/audit_shipper.h"

#include <cstdio>

#include "platform/file_time.h"
#include "upload/upload_backoff.h"

namespace corvane {

namespace {
constexpr size_t kReceiveBuffer = 16 * 1024;
constexpr uint32_t kOpenWaitMs = 10000;
}  // namespace

std::string FormatAuditShipperStatus(const AuditShipperStatus& status) {
    std::string line = "audit shipper: ";
    if (!status.bEnabled) return line + "off";
    const std::string where = status.strHost + ":" + std::to_string(status.wPort);
    line += status.bConnected ? "connected to " + where : "not connected to " + where;
    line += ", last acknowledged row " + std::to_string(status.nLastAckedId);
    line += ", back-off " + std::to_string(status.nBackoffMs) + " ms";
    if (!status.bConnected && !status.strLastError.empty()) line += " (" + status.strLastError + ")";
    return line;
}

CAuditShipper::CAuditShipper(const AuditShipperDeps& deps, AuditSyslogIdentity identity)
    : m_deps(deps), m_identity(std::move(identity)) {}

CAuditShipper::~CAuditShipper() {
    // The thread uses this object: it must have ended, however long its last connect takes.
    Stop();
    WaitFinished();
}

void CAuditShipper::WaitFinished() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [this] { return !m_bRunning; });
}

void CAuditShipper::SetIdentity(AuditSyslogIdentity identity) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bRunning) m_identity = std::move(identity);
}

void CAuditShipper::Apply(const AuditCollectorConfig& config) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bRunning && m_config == config) return;
        if (!m_bRunning && !config.Ships()) {
            m_config = config;
            m_status = AuditShipperStatus {};
            return;
        }
    }
    Stop();
    // Never two threads on the one database connection and parser.
    WaitFinished();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = config;
    // The last acknowledged row stays known across a reload.
    const int64_t lastAcked = m_status.nLastAckedId;
    m_status = AuditShipperStatus {};
    m_status.nLastAckedId = lastAcked;
    if (!config.Ships()) return;
    m_status.bEnabled = true;
    m_status.strHost = config.tls.strHost;
    m_status.wPort = config.tls.wPort;
    if (m_deps.tlsStreams == nullptr) {
        m_status.strLastError = "TLS is not available in this build";
        if (m_deps.diagnostics) m_deps.diagnostics->Write("audit shipper: TLS is not available in this build");
        return;
    }
    m_bStop = false;
    m_bRunning = true;
    if (!m_deps.threads->CreateThread([this, config] { Run(config); })) {
        m_bRunning = false;
        m_status.strLastError = "cannot start the shipper's thread";
    }
}

void CAuditShipper::Stop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bRunning) return;
    m_bStop = true;
    m_wake.Wake();
    m_finished.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return !m_bRunning; });
}

AuditShipperStatus CAuditShipper::Status() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

uint32_t CAuditShipper::Random() {
    uint32_t value = 0;
    m_deps.system->GenRandom(&value, sizeof(value));
    return value;
}

std::string CAuditShipper::UploadTimeText() {
    const CalendarTime t = FileTimeToCalendar(m_deps.clock->GetSystemTimeAsFileTime());
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

void CAuditShipper::SetError(const std::string& error, uint32_t backoffMs) {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        changed = m_status.strLastError != error || m_status.bConnected;
        m_status.bConnected = false;
        m_status.strLastError = error;
        m_status.nBackoffMs = backoffMs;
    }
    // One line per new reason, not one per attempt.
    if (changed && m_deps.diagnostics) {
        m_deps.diagnostics->Write("audit shipper: " + error + "; next attempt in " + std::to_string(backoffMs) +
                                  " ms");
    }
}

bool CAuditShipper::ReadFrames(ITlsStream& stream, CRelpClientSession& session, uint32_t waitMs,
                               std::vector<int64_t>& acked, bool& opened, std::string& error) {
    char buffer[kReceiveBuffer];
    size_t received = 0;
    switch (stream.Receive(buffer, sizeof(buffer), received, waitMs)) {
        case TlsIo::TimedOut: return true;
        case TlsIo::Closed: error = "the collector closed the connection"; return false;
        case TlsIo::Failed: error = "the connection to the collector broke"; return false;
        case TlsIo::Ok: break;
    }
    m_parser.Append(buffer, received);
    RelpFrame frame;
    RelpParse parse;
    while ((parse = m_parser.Next(frame)) == RelpParse::Frame) {
        const RelpEvent event = session.OnFrame(frame);
        switch (event.kind) {
            case RelpEventKind::Opened: opened = true; break;
            case RelpEventKind::Acked: acked.push_back(event.nTag); break;
            case RelpEventKind::Refused:
                error = "the collector refused row " + std::to_string(event.nTag) + ": " + event.strText;
                return false;
            case RelpEventKind::ServerClose: error = "the collector ended the session"; return false;
            case RelpEventKind::Closed: error = "the session was closed"; return false;
            case RelpEventKind::Failed: error = event.strText; return false;
            case RelpEventKind::None: break;
        }
    }
    if (parse == RelpParse::Invalid) {
        error = "the collector sent bytes that are not a reply";
        return false;
    }
    return true;
}

bool CAuditShipper::Connect(const AuditCollectorConfig& config, std::unique_ptr<ITlsStream>& stream,
                            CRelpClientSession& session, std::string& error) {
    if (!m_deps.outbox->Open(error)) return false;
    m_identity.strDbId = m_deps.outbox->DbId();
    stream = m_deps.tlsStreams->Connect(config.tls, error);
    if (!stream) return false;
    m_parser.Reset();
    const std::string open = session.Open();
    if (stream->Send(open.data(), open.size()) != TlsIo::Ok) {
        error = "the connection to the collector broke";
        return false;
    }
    const uint32_t start = m_deps.clock->GetTickCount();
    std::vector<int64_t> none;
    bool opened = false;
    while (!opened && !m_bStop) {
        if (TicksSince(m_deps.clock->GetTickCount(), start) >= kOpenWaitMs) {
            error = "the collector did not answer the session's opening";
            return false;
        }
        if (!ReadFrames(*stream, session, kIdlePollMs, none, opened, error)) return false;
    }
    return opened;
}

void CAuditShipper::Run(AuditCollectorConfig config) {
    CUploadBackoff backoff;
    CRelpClientSession session;
    std::unique_ptr<ITlsStream> stream;
    uint32_t waitMs = 0;
    int64_t lastQueued = 0;
    uint32_t lastProgress = 0;
    std::vector<AuditOutboxRow> rows;
    std::vector<int64_t> acked;
    std::vector<int64_t> unmarked;  // acknowledged, not yet marked sent
    std::string error;

    const auto drop = [&](const std::string& why) {
        stream.reset();
        session = CRelpClientSession();
        lastQueued = 0;  // every row not acknowledged goes again on the next connection
        waitMs = backoff.NextDelay(Random());
        SetError(why, waitMs);
    };

    while (!m_bStop) {
        if (!stream) {
            // The back-off passes in full; a wake for new rows does not shorten it.
            const uint32_t start = m_deps.clock->GetTickCount();
            while (!m_bStop && TicksSince(m_deps.clock->GetTickCount(), start) < waitMs) {
                m_deps.clock->SleepUntilWoken(m_wake, waitMs - TicksSince(m_deps.clock->GetTickCount(), start));
            }
            if (m_bStop) break;
            if (!Connect(config, stream, session, error)) {
                if (!m_bStop) drop(error);
                continue;
            }
            backoff.Reset();
            waitMs = 0;
            lastProgress = m_deps.clock->GetTickCount();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_status.bConnected = true;
            m_status.nBackoffMs = 0;
            m_status.strLastError.clear();
        }

        // Fill the window with the next rows, as one write.
        std::string frames;
        while (session.CanSend()) {
            const size_t room = kRelpWindow - session.Unacknowledged();
            if (!m_deps.outbox->ReadPending(lastQueued, room, rows) || rows.empty()) break;
            for (const AuditOutboxRow& row : rows) {
                frames += session.Syslog(FormatAuditSyslog(m_deps.outbox->Columns(), row.values, m_identity), row.nId);
                lastQueued = row.nId;
            }
        }
        if (!frames.empty() && stream->Send(frames.data(), frames.size()) != TlsIo::Ok) {
            drop("the connection to the collector broke");
            continue;
        }

        acked.clear();
        bool opened = false;
        const bool idle = frames.empty() && session.Unacknowledged() == 0;
        // Idle, the shipper only takes what the collector may have said (a "serverclose") and
        // sleeps until new rows are announced or the next poll is due.
        bool alive = ReadFrames(*stream, session, idle ? 0 : kIdlePollMs, acked, opened, error);
        if (alive && idle && acked.empty()) {
            m_deps.clock->SleepUntilWoken(m_wake, kIdlePollMs);
            continue;
        }
        // The collector answers message by message: take every answer already there, so that
        // one short transaction marks them all.
        size_t before = 0;
        while (alive && acked.size() > before && acked.size() < kRelpWindow) {
            before = acked.size();
            alive = ReadFrames(*stream, session, 0, acked, opened, error);
        }
        if (!acked.empty()) lastProgress = m_deps.clock->GetTickCount();
        // Only what the collector acknowledged is marked. Marking that fails (the database
        // busy too long) is tried again with the next acknowledgements; should the service end
        // first, those rows go again at the next start (at least once).
        unmarked.insert(unmarked.end(), acked.begin(), acked.end());
        if (!unmarked.empty() && m_deps.outbox->MarkUploaded(unmarked, UploadTimeText())) {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (int64_t id : unmarked) {
                if (id > m_status.nLastAckedId) m_status.nLastAckedId = id;
            }
            unmarked.clear();
        }
        if (!alive) {
            drop(error);
            continue;
        }
        if (session.Unacknowledged() == 0) {
            lastProgress = m_deps.clock->GetTickCount();
        } else if (TicksSince(m_deps.clock->GetTickCount(), lastProgress) >= kReplyWaitMs) {
            drop("the collector stopped answering");
        }
    }

    if (stream && session.IsOpen()) {
        // A polite end; rows still unacknowledged stay unsent and go at the next start.
        const std::string close = session.Close();
        if (stream->Send(close.data(), close.size()) == TlsIo::Ok) {
            bool opened = false;
            acked.clear();
            const uint32_t start = m_deps.clock->GetTickCount();
            while (session.IsOpen() && TicksSince(m_deps.clock->GetTickCount(), start) < kCloseWaitMs &&
                   ReadFrames(*stream, session, kCloseWaitMs, acked, opened, error)) {
            }
            unmarked.insert(unmarked.end(), acked.begin(), acked.end());
        }
    }
    stream.reset();
    if (!unmarked.empty()) m_deps.outbox->MarkUploaded(unmarked, UploadTimeText());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status.bConnected = false;
    m_bRunning = false;
    m_finished.notify_all();
}

}  // namespace corvane
