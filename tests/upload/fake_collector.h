// A collector in memory for the shipper's tests: it answers "open", acknowledges each "syslog"
// frame with 200 and keeps the row ids it received; a test can make it refuse connections, close
// after a number of messages without answering them, or answer with garbage.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/tls_streams.h"
#include "upload/relp_frame.h"

namespace corvane::test {

class FakeCollector final : public ITlsStreams {
public:
    explicit FakeCollector(IClock& clock) : m_clock(clock) {}

    std::unique_ptr<ITlsStream> Connect(const TlsClientSettings& settings, std::string& error) override;

    // Called by the stream with the client's bytes; returns false when the connection is to break.
    bool OnClientBytes(uint64_t connection, const std::string& bytes, std::string& reply);

    // Test controls.
    std::string refuseWith;        // non-empty: Connect fails with this reason
    int closeAfterMessages = -1;   // >= 0: the next connection breaks once that many messages came
    bool garbage = false;          // the next connection answers "open" with bytes that are no frame

    std::vector<int64_t> ReceivedIds() const;
    // The clock's tick at every connection attempt, refused ones included.
    std::vector<uint32_t> AttemptTicks() const;
    std::vector<std::string> Messages() const;
    int Connections() const;
    TlsClientSettings LastSettings() const;

private:
    IClock& m_clock;
    mutable std::mutex m_mutex;
    uint64_t m_nConnections = 0;
    std::map<uint64_t, CRelpReplyParser> m_parsers;
    std::map<uint64_t, int> m_messagesOn;
    std::vector<std::string> m_messages;
    TlsClientSettings m_lastSettings;
    std::vector<uint32_t> m_attemptTicks;
};

}  // namespace corvane::test
