// The loopback stream channel: TCP port 45451, served to loopback peers only. The listener
// thread accepts connections and starts one connection thread for each one from 127.0.0.1; a
// connection from any other address is closed at once, without a byte.
#pragma once

#include <atomic>
#include <cstdint>

#include "channel/stream_request_handler.h"
#include "platform/platform.h"
#include "wire/companion_contract.h"

namespace corvane {

inline constexpr int kStreamListenBacklog = 5;

// The application's flags, socket slot and worker count that the listener reports through.
struct StreamThreadState {
    std::atomic<int32_t>& m_bStop;
    std::atomic<int32_t>& m_bTcpStopped;
    std::atomic<intptr_t>& m_sockTcpListen;
    std::atomic<int32_t>& ActiveWorkerCount;
};

class CStreamListener {
public:
    CStreamListener(Platform& platform, CStreamRequestHandler& handler);
    CStreamListener(const CStreamListener&) = delete;
    CStreamListener& operator=(const CStreamListener&) = delete;

    // The listener thread: 0 after a normal stop, or the Windows Sockets error that kept the
    // socket from being created or from listening (the stopped flag then stays 1).
    int ListenerThread(StreamThreadState state);

    // The port the listener binds (the command port; tests choose 0 for any free port), and the
    // port it listens on once it does.
    uint16_t m_wPort = Contract::COMMAND_PORT;
    std::atomic<uint16_t> m_wListeningPort {0};

private:
    void StartConnection(SocketHandle s, std::atomic<int32_t>& activeWorkers);

    Platform& m_platform;
    CStreamRequestHandler& m_handler;
};

}  // namespace corvane
