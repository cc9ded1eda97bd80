#include "fake_collector.h"

namespace corvane::test {

namespace {
class FakeStream final : public ITlsStream {
public:
    FakeStream(FakeCollector& collector, IClock& clock, uint64_t connection)
        : m_collector(collector), m_clock(clock), m_connection(connection) {}

    TlsIo Send(const void* data, size_t size) override {
        if (m_broken) return TlsIo::Failed;
        std::string reply;
        if (!m_collector.OnClientBytes(m_connection, std::string(static_cast<const char*>(data), size), reply)) {
            m_broken = true;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending += reply;
        return TlsIo::Ok;
    }
    TlsIo Receive(void* buffer, size_t size, size_t& received, uint32_t timeoutMs) override {
        received = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.empty()) {
            if (m_broken) return TlsIo::Closed;
            m_clock.Sleep(timeoutMs);
            return TlsIo::TimedOut;
        }
        received = std::min(size, m_pending.size());
        m_pending.copy(static_cast<char*>(buffer), received);
        m_pending.erase(0, received);
        return TlsIo::Ok;
    }

private:
    FakeCollector& m_collector;
    IClock& m_clock;
    uint64_t m_connection;
    std::mutex m_mutex;
    std::string m_pending;
    bool m_broken = false;
};

int64_t IdOf(const std::string& message) {
    const size_t at = message.find(" id=\"");
    return at == std::string::npos ? -1 : std::stoll(message.substr(at + 5));
}
}  // namespace

std::unique_ptr<ITlsStream> FakeCollector::Connect(const TlsClientSettings& settings, std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastSettings = settings;
    m_attemptTicks.push_back(m_clock.GetTickCount());
    if (!refuseWith.empty()) {
        error = refuseWith;
        return nullptr;
    }
    const uint64_t connection = ++m_nConnections;
    m_parsers.emplace(connection, CRelpReplyParser(1 << 20));
    return std::make_unique<FakeStream>(*this, m_clock, connection);
}

bool FakeCollector::OnClientBytes(uint64_t connection, const std::string& bytes, std::string& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CRelpReplyParser& parser = m_parsers.at(connection);
    parser.Append(bytes.data(), bytes.size());
    RelpFrame frame;
    while (parser.Next(frame) == RelpParse::Frame) {
        if (frame.strCommand == "open") {
            if (garbage) {
                garbage = false;
                reply += "HTTP/1.1 400 Bad Request\r\n\r\n";
                return true;
            }
            reply += EncodeRelpFrame(frame.nTxnr, "rsp", "200 OK\nrelp_version=0\ncommands=syslog\n");
        } else if (frame.strCommand == "syslog") {
            if (closeAfterMessages >= 0 && m_messagesOn[connection] >= closeAfterMessages) {
                closeAfterMessages = -1;
                return false;  // this and everything after it is lost with the connection
            }
            ++m_messagesOn[connection];
            m_messages.push_back(frame.strData);
            reply += EncodeRelpFrame(frame.nTxnr, "rsp", "200 OK");
        } else if (frame.strCommand == "close") {
            reply += EncodeRelpFrame(frame.nTxnr, "rsp", "200 OK");
        }
    }
    return true;
}

std::vector<int64_t> FakeCollector::ReceivedIds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<int64_t> ids;
    for (const std::string& m : m_messages) ids.push_back(IdOf(m));
    return ids;
}

std::vector<uint32_t> FakeCollector::AttemptTicks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_attemptTicks;
}

std::vector<std::string> FakeCollector::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

int FakeCollector::Connections() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_nConnections);
}

TlsClientSettings FakeCollector::LastSettings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastSettings;
}

}  // namespace corvane::test
