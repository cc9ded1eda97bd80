// The client side of one session with the collector, without any I/O: it makes the "open",
// "syslog" and "close" frames with their transaction numbers, keeps the window of messages the
// collector has not acknowledged yet, and turns the collector's frames into what happened to
// each message. The shipper moves the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "upload/relp_frame.h"

namespace corvane {

inline constexpr size_t kRelpWindow = 128;

enum class RelpEventKind {
    None,
    Opened,       // the collector accepted "open" and offers "syslog"
    Acked,        // the collector acknowledged one message with 200
    Refused,      // the collector answered one message with another code
    Closed,       // the collector answered our "close"
    ServerClose,  // the collector ends the session ("serverclose")
    Failed,       // a reply the session cannot go on from (unknown txnr, refused open, ...)
};

struct RelpEvent {
    RelpEventKind kind = RelpEventKind::None;
    int64_t nTag = 0;     // the message's tag (the audit row id) for Acked and Refused
    int nCode = 0;        // the response code
    std::string strText;  // the collector's text, for diagnostics
};

class CRelpClientSession {
public:
    explicit CRelpClientSession(size_t window = kRelpWindow) : m_window(window) {}

    // The "open" frame with the offers; the session starts over at transaction 1.
    std::string Open();
    // Whether another message may be sent: open, and fewer than the window unacknowledged.
    bool CanSend() const { return m_bOpen && m_pending.size() < m_window; }
    // A "syslog" frame carrying `message`, remembered under `tag` until the collector answers.
    std::string Syslog(std::string_view message, int64_t tag);
    // The "close" frame.
    std::string Close();
    // What one frame of the collector means.
    RelpEvent OnFrame(const RelpFrame& frame);

    bool IsOpen() const { return m_bOpen; }
    size_t Unacknowledged() const { return m_pending.size(); }

private:
    struct Pending {
        uint32_t nTxnr;
        int64_t nTag;
    };
    uint32_t TakeTxnr();

    size_t m_window;
    uint32_t m_nNextTxnr = 1;
    uint32_t m_nOpenTxnr = 0;
    uint32_t m_nCloseTxnr = 0;
    bool m_bOpen = false;
    std::deque<Pending> m_pending;  // in the order sent
};

}  // namespace corvane
