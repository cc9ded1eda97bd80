// Windows Sockets for tests and fuzzing, without a network: sockets are numbers, every datagram
// sent is recorded, selects report what the test says, and datagram receives play a script
// (each step may run an action first, for example advancing the fake clock). Header-only, so the
// fuzz targets can use it without the test support library.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace corvane::test {

class FakeSockets final : public ISockets {
public:
    struct Datagram {
        std::vector<uint8_t> data;
        SockAddrIn to;
    };
    // One receive: an action to run first, then either an error or a datagram.
    struct ReceiveStep {
        std::function<void()> before;
        int error = 0;
        std::vector<uint8_t> data;
        SockAddrIn from = SockAddrIn::Inet(0xC0A80114, 45452);  // 192.168.1.20
    };

    int Startup() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++references;
        return 0;
    }
    int Cleanup() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (references == 0) return WsaError::NotInitialised;
        --references;
        return 0;
    }
    int Create(SocketKind, SocketHandle& out) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        out = kInvalidSocket;
        if (createError) return createError;
        if (requireStartup && references == 0) return WsaError::NotInitialised;
        out = m_next++;
        m_open.insert(out);
        return 0;
    }
    int Close(SocketHandle s) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open.erase(s) ? 0 : WsaError::NotSock;
    }
    int ShutdownSocket(SocketHandle, SocketShutdown) override { return 0; }
    int Bind(SocketHandle, const SockAddrIn&) override { return bindError; }
    int Listen(SocketHandle, int) override { return 0; }
    int Accept(SocketHandle, SocketHandle& out, SockAddrIn*) override {
        out = kInvalidSocket;
        return WsaError::Intr;
    }
    int Connect(SocketHandle, const SockAddrIn&) override { return connectError; }
    int GetLocalAddress(SocketHandle, SockAddrIn& out) override {
        out = SockAddrIn {};
        return 0;
    }
    int SetReceiveTimeout(SocketHandle, uint32_t) override { return receiveTimeoutError; }
    int SetBroadcast(SocketHandle, bool) override { return 0; }
    int SetNonBlocking(SocketHandle, bool) override { return 0; }
    int GetPendingError(SocketHandle, int& error) override {
        error = pendingError;
        return 0;
    }
    int Select(SocketHandle, SocketWait, long seconds, long microseconds, SelectResult& result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        selectTimeouts.push_back(seconds * 1000000L + microseconds);
        result = selectResult;
        return 0;
    }
    int Send(SocketHandle, const void*, size_t size, size_t& sent) override {
        sent = size;
        return 0;
    }
    // Stream receives hand out `streamBytes` in pieces of at most `receiveChunk`; 0 bytes when empty.
    int Receive(SocketHandle, void* buffer, size_t size, size_t& received) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        received = std::min({size, streamBytes.size(), receiveChunk});
        std::copy_n(streamBytes.begin(), received, static_cast<uint8_t*>(buffer));
        streamBytes.erase(streamBytes.begin(), streamBytes.begin() + static_cast<std::ptrdiff_t>(received));
        ++receiveCalls;
        return 0;
    }
    int SendTo(SocketHandle, const void* data, size_t size, const SockAddrIn& to, size_t& sent) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto* p = static_cast<const uint8_t*>(data);
        sentDatagrams.push_back(Datagram {std::vector<uint8_t>(p, p + size), to});
        sent = size;
        return 0;
    }
    // Plays the next step of the script; once it is used up, reports a drained socket (WSAEINTR).
    int ReceiveFrom(SocketHandle, void* buffer, size_t size, size_t& received, SockAddrIn& from) override {
        received = 0;
        ReceiveStep step;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (script.empty()) return WsaError::Intr;
            step = std::move(script.front());
            script.pop_front();
        }
        if (step.before) step.before();
        if (step.error) return step.error;
        received = std::min(size, step.data.size());
        std::copy_n(step.data.begin(), received, static_cast<uint8_t*>(buffer));
        from = step.from;
        return 0;
    }
    int ResolveIPv4(std::u16string_view host, uint32_t& address) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++resolveCalls;
        if (requireStartup && references == 0) return WsaError::NotInitialised;
        if (host == u"localhost") {
            address = SockAddrIn::kLoopback;
            return 0;
        }
        return WsaError::HostNotFound;
    }

    size_t OpenSockets() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open.size();
    }
    std::vector<Datagram> Sent() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return sentDatagrams;
    }

    // Behaviour knobs.
    int references = 0;
    bool requireStartup = false;  // Create and ResolveIPv4 fail with WSANOTINITIALISED while no reference is held
    int createError = 0;
    int bindError = 0;
    int connectError = 0;
    int receiveTimeoutError = 0;
    int pendingError = 0;
    SelectResult selectResult {true, false};
    std::deque<ReceiveStep> script;
    std::vector<uint8_t> streamBytes;
    size_t receiveChunk = 1 << 20;

    // What happened.
    std::vector<long> selectTimeouts;  // microseconds
    std::vector<Datagram> sentDatagrams;
    int receiveCalls = 0;
    int resolveCalls = 0;

private:
    mutable std::mutex m_mutex;
    SocketHandle m_next = 100;
    std::set<SocketHandle> m_open;
};

}  // namespace corvane::test
