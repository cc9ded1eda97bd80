#include "upload/relp_session.h"

namespace corvane {

namespace {
constexpr std::string_view kOffers = "relp_version=0\nrelp_software=corvane\ncommands=syslog";
constexpr int kOk = 200;

// Whether the offers of an "open" reply name the "syslog" command.
bool OffersSyslog(std::string_view data) {
    size_t pos = 0;
    while (pos <= data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string_view::npos) end = data.size();
        const std::string_view line = data.substr(pos, end - pos);
        constexpr std::string_view kCommands = "commands=";
        if (line.substr(0, kCommands.size()) == kCommands) {
            std::string_view list = line.substr(kCommands.size());
            while (!list.empty()) {
                const size_t comma = list.find(',');
                if (list.substr(0, comma) == "syslog") return true;
                if (comma == std::string_view::npos) break;
                list.remove_prefix(comma + 1);
            }
        }
        pos = end + 1;
    }
    return false;
}
}  // namespace

uint32_t CRelpClientSession::TakeTxnr() {
    const uint32_t txnr = m_nNextTxnr;
    m_nNextTxnr = NextRelpTxnr(m_nNextTxnr);
    return txnr;
}

std::string CRelpClientSession::Open() {
    m_nNextTxnr = 1;
    m_bOpen = false;
    m_nCloseTxnr = 0;
    m_pending.clear();
    m_nOpenTxnr = TakeTxnr();
    return EncodeRelpFrame(m_nOpenTxnr, "open", kOffers);
}

std::string CRelpClientSession::Syslog(std::string_view message, int64_t tag) {
    const uint32_t txnr = TakeTxnr();
    m_pending.push_back({txnr, tag});
    return EncodeRelpFrame(txnr, "syslog", message);
}

std::string CRelpClientSession::Close() {
    m_nCloseTxnr = TakeTxnr();
    return EncodeRelpFrame(m_nCloseTxnr, "close", {});
}

RelpEvent CRelpClientSession::OnFrame(const RelpFrame& frame) {
    RelpEvent event;
    if (frame.strCommand == "serverclose") {
        m_bOpen = false;
        event.kind = RelpEventKind::ServerClose;
        return event;
    }
    if (frame.strCommand != "rsp") {
        event.kind = RelpEventKind::Failed;
        event.strText = "unexpected command \"" + frame.strCommand + "\" from the collector";
        return event;
    }
    event.nCode = RelpResponseCode(frame.strData);
    event.strText = frame.strData.substr(0, frame.strData.find('\n'));
    if (m_nOpenTxnr != 0 && frame.nTxnr == m_nOpenTxnr) {
        m_nOpenTxnr = 0;
        if (event.nCode != kOk) {
            event.kind = RelpEventKind::Failed;
            event.strText = "the collector refused the session: " + event.strText;
        } else if (!OffersSyslog(frame.strData)) {
            event.kind = RelpEventKind::Failed;
            event.strText = "the collector does not offer the syslog command";
        } else {
            m_bOpen = true;
            event.kind = RelpEventKind::Opened;
        }
        return event;
    }
    if (m_nCloseTxnr != 0 && frame.nTxnr == m_nCloseTxnr) {
        m_nCloseTxnr = 0;
        m_bOpen = false;
        event.kind = RelpEventKind::Closed;
        return event;
    }
    // Replies may come in any order; each names its transaction.
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->nTxnr != frame.nTxnr) continue;
        event.nTag = it->nTag;
        event.kind = event.nCode == kOk ? RelpEventKind::Acked : RelpEventKind::Refused;
        m_pending.erase(it);
        return event;
    }
    event.kind = RelpEventKind::Failed;
    event.strText = "a reply for transaction " + std::to_string(frame.nTxnr) + ", which is not outstanding";
    return event;
}

}  // namespace corvane
