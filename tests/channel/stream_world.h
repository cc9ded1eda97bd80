// The stream channel's request table on a test platform, with the tables it reaches, a fixed
// BleStatus record and a recorder of publications. Requests go straight to the handler (plain, or
// keyed with a session key the test knows); StreamListenerWorld adds the listener on an
// ephemeral loopback port, so parallel runs never meet on the command port.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "channel/logon_report.h"
#include "channel/stream_client.h"
#include "channel/stream_listener.h"
#include "channel/stream_request_handler.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "session/logon_state.h"
#include "support/test_platform.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane::test {

// A whole received reply: header as on the wire, payload in plain.
struct StreamAnswer {
    MsgHeader header;
    std::vector<uint8_t> payload;
};

inline constexpr uint8_t kTestSessionKey[kSessionKeySize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                                             0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

class StreamWorld {
public:
    StreamWorld() {
        OpenServiceMutexes(platform.Get(), config);
        config.g_strComputerName = u"TESTPC";
        for (size_t i = 0; i < bleStatus.size(); ++i) bleStatus[i] = static_cast<uint8_t>(0xB0 + i);
    }

    Platform& Get() { return platform.Get(); }

    // Sends one request through the handler as a client on this connection would.
    StreamAnswer Request(uint16_t code, uint32_t status = 0, const std::vector<uint8_t>& payload = {}) {
        std::vector<uint8_t> body = payload;
        if (connection.m_nSecureState == kSecureKeyed && code != 0x1011 && !payload.empty()) body = Encrypt(payload);
        return Raw(code, status, body, static_cast<uint16_t>(body.size()));
    }
    // The request exactly as given (the header's length may differ from the bytes that follow,
    // as a fake connection sees a sender's claim); the reply's payload decrypted when keyed.
    StreamAnswer Raw(uint16_t code, uint32_t status, const std::vector<uint8_t>& body, uint16_t length) {
        uint8_t* request = arena.Allocate(MsgHeader::kSize + length + 2);
        MsgHeader {code, length, status}.Encode(request);
        if (!body.empty()) std::memcpy(request + MsgHeader::kSize, body.data(), std::min<size_t>(body.size(), length));
        const StreamReply reply = handler.HandleRequest(connection, request, arena);
        StreamAnswer answer {*MsgHeader::Decode(reply.data, reply.size),
                             std::vector<uint8_t>(reply.data + MsgHeader::kSize, reply.data + reply.size)};
        arena.Release();
        if (connection.m_nSecureState == kSecureKeyed && code != 0x1011 && !answer.payload.empty()) {
            answer.payload = Decrypt(answer.payload);
        }
        return answer;
    }

    // Keys the connection with kTestSessionKey, as a finished key exchange would.
    void Key() {
        connection.m_pCipher = CSessionCipher::Create(kTestSessionKey);
        connection.m_nSecureState = kSecureKeyed;
    }
    static std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& plain) {
        auto cipher = CSessionCipher::Create(kTestSessionKey);
        std::vector<uint8_t> out(CSessionCipher::CipherSize(plain.size()));
        size_t size = 0;
        cipher->Encrypt(plain.data(), plain.size(), out.data(), size);
        return out;
    }
    static std::vector<uint8_t> Decrypt(const std::vector<uint8_t>& cipherText) {
        auto cipher = CSessionCipher::Create(kTestSessionKey);
        std::vector<uint8_t> out(cipherText.size());
        size_t size = 0;
        if (cipher->Decrypt(cipherText.data(), cipherText.size(), out.data(), size) != CSessionCipher::DecryptResult::Ok) {
            return {0xDE, 0xAD};
        }
        out.resize(size);
        return out;
    }

    TestPlatform platform;
    Configuration config;
    CNetDeviceTable table {platform.clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform.Get(), config, table, devices};
    std::atomic<bool> forwardEnabled {false};
    CLogonState logonState;
    std::array<uint8_t, 28> bleStatus {};
    int publications = 0;
    CStreamRequestHandler handler {
        config,
        forwardEnabled,
        reports,
        table,
        logonState,
        [this](uint8_t* buffer, size_t size) { return platform.system.GenRandom(buffer, size); },
        StreamHandlerHooks {[this] {
                                ++publications;
                                logonState.Publish();
                            },
                            [this](uint8_t* out) { std::memcpy(out, bleStatus.data(), bleStatus.size()); }}};
    StreamConnectionState connection;
    ReplyArena arena;
};

// The listener on an ephemeral loopback port, run on a test thread; stopped as the service's
// stop sequence does it (stop flag, then Windows Sockets drained).
class StreamListenerWorld : public StreamWorld {
public:
    StreamListenerWorld() {
        listener.m_wPort = 0;
        platform.threads.CreateThread([this] { result = listener.ListenerThread(State()); });
        WaitUntil([this] { return listener.m_wListeningPort != 0; });
    }
    ~StreamListenerWorld() { Stop(); }

    StreamThreadState State() { return {m_bStop, m_bTcpStopped, m_sockTcpListen, ActiveWorkerCount}; }
    uint16_t Port() const { return listener.m_wListeningPort; }
    void Stop() {
        if (stopped) return;
        stopped = true;
        m_bStop = 1;
        // One more connection wakes the accept, whatever the Windows Sockets clean-up does to it
        // on this platform; the listener then sees the stop flag.
        CStreamClient wake(platform.sockets);
        wake.Connect(Port());
        wake.Close();
        while (platform.sockets.Cleanup() == 0) {
        }
        platform.threads.JoinAll();
    }
    // Waits (really) until `done` holds, at most five seconds.
    template <typename F>
    static bool WaitUntil(F done) {
        for (int i = 0; i < 5000; ++i) {
            if (done()) return true;
            Pause();
        }
        return done();
    }
    static void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

    std::atomic<int32_t> m_bStop {0};
    std::atomic<int32_t> m_bTcpStopped {1};
    std::atomic<intptr_t> m_sockTcpListen {-1};
    std::atomic<int32_t> ActiveWorkerCount {0};
    CStreamListener listener {platform.Get(), handler};
    std::atomic<int> result {-1};
    bool stopped = false;
};

}  // namespace corvane::test
