// Phones over Bluetooth LE: a phone's hello (the service wraps a fresh session key under the
// phone's 1024-bit RSA key) and a keyed phone status request 0x3101, each one round trip on the
// phone's passive channel through the BLE library stand-in (libvxble.so, loaded from beside this
// program, as the service loads it), the passive-channel server and the device session handler.
// The peer is the same byte exchange over a bare Unix-domain socket pair whose other end one
// thread serves with replies of the same sizes. Items per second are round trips per second.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "crypto/rsa.h"
#include "crypto/session_key.h"
#include "device/ble_service.h"
#include "device/device_map.h"
#include "device/device_worker.h"
#include "phone/device_hello.h"
#include "phone/device_session.h"
#include "phone_link.h"
#include "platform/platform.h"
#include "vxble_link.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;

std::unique_ptr<NativePlatform> PlatformUnderTemporaryRoot() {
    char dir[] = "/tmp/corvane-ble-bench.XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        std::perror("ble bench: no temporary state root");
        std::abort();
    }
    g_root = dir;
    ::setenv("CORVANE_ROOT", g_root.c_str(), 1);
    // The state root (the library's sockets, the simulated radio) goes with the process.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
    });
    return CreateNativePlatform();
}

// The service's side: the library stand-in's BLE service with the service's handlers behind it,
// on real threads and sockets; built once and left running until the process ends.
struct BleHost {
    BleHost() {
        OpenServiceMutexes(platform, config);
        config.g_hostGuid.data1 = 0x0BE4C4;
        config.g_strHostGuid = u"{000BE4C4-0000-0000-0000-000000000000}";
        config.g_strComputerName = u"BENCH";
        session.Hooks().GetPublished = [](std::u16string& user, uint16_t& state) {
            user = u"anna@CORP";
            state = 1;
        };
        ble.HandleDeviceRequest = [this](BleConnection& connection, const uint8_t* request, size_t size,
                                         ReplyArena& arena, uint8_t** reply, size_t* replySize) {
            return session.HandleDeviceRequest(connection, request, size, arena, reply, replySize);
        };
        ble.TeardownConnection = [this](BleConnection* connection) { session.TeardownConnection(connection); };
        ble.LoadBleLibrary();
        running = ble.BleLibraryLoaded() && ble.StartBle();
    }

    std::unique_ptr<NativePlatform> native = PlatformUnderTemporaryRoot();
    Platform& platform = native->Get();
    Configuration config;
    DeviceMap devices {config};
    std::atomic<int32_t> stop {0}, radioStopped {1}, restart {0}, workers {0};
    DeviceWorkerHost workerHost {*platform.threads, devices, workers};
    CBleService ble {platform, config, devices, BleAppState {stop, radioStopped, restart, workers}};
    CDeviceSession session {BthDeviceEnv {platform, config, workerHost, ble.Slot()}};
    bool running = false;
};

BleHost& TheHost() {
    static auto* host = new BleHost();
    return *host;
}

RsaHandle PhoneKey() {
    static RsaHandle key = [] {
        RsaHandle k = nullptr;
        RsaGenerate(&k, 1024, 65537, [](uint8_t* b, size_t n) { return TheHost().platform.system->GenRandom(b, n); });
        return k;
    }();
    return key;
}

Bytes Message(uint16_t code, const Bytes& payload) {
    Bytes m(MsgHeader::kSize + payload.size());
    MsgHeader {code, static_cast<uint16_t>(payload.size()), 0}.Encode(m.data());
    std::copy(payload.begin(), payload.end(), m.begin() + MsgHeader::kSize);
    return m;
}

Bytes HelloMessage() {
    uint32_t size = 0;
    RsaExport(PhoneKey(), 1, nullptr, &size);
    Bytes der(size);
    RsaExport(PhoneKey(), 1, der.data(), &size);
    return Message(kHelloCode, BuildDeviceHelloRequest("bench-phone", "Bench phone", "bench", der.data(), der.size()));
}

// The phone's side of the passive channel.
struct BenchPhone {
    BenchPhone() { fd = phone::ConnectWithIntro(vxble::HostSocketPath(g_root), vxble::kKindPassive, "bench-phone"); }
    ~BenchPhone() {
        if (cipher) CipherDestroy(cipher);
        if (fd >= 0) ::close(fd);
    }
    bool Exchange(const Bytes& request, Bytes& reply) {
        return phone::SendAll(fd, request.data(), request.size()) && phone::ReadMessage(fd, reply, 10000);
    }
    // A hello whose reply carries a session key this phone unwraps.
    bool Hello(Bytes& reply) {
        if (!Exchange(HelloMessage(), reply)) return false;
        const MsgHeader header = *MsgHeader::Decode(reply.data(), reply.size());
        DeviceHelloReply fields;
        if (header.code != 0x8101 || header.status != 0 ||
            ParseDeviceHelloReply(reply.data() + MsgHeader::kSize, header.length, fields) != 0) {
            return false;
        }
        if (cipher) CipherDestroy(cipher);
        cipher = nullptr;
        return UnwrapSessionKey(PhoneKey(), fields.wrappedKey, fields.wrappedKeyLength, &cipher) ==
               SessionKeyStatus::Ok;
    }
    Bytes StatusRequest() {
        const uint8_t flags[2] = {0, 0};
        Bytes sealed(sizeof flags + kSessionPaddingMax);
        size_t n = 0;
        SessionEncrypt(cipher, flags, sizeof flags, sealed.data(), &n);
        sealed.resize(n);
        return Message(0x3101, sealed);
    }
    bool OpenStatusReply(const Bytes& reply) {
        const MsgHeader header = *MsgHeader::Decode(reply.data(), reply.size());
        Bytes plain(header.length);
        size_t n = 0;
        return header.code == 0xB101 && header.status == 0 &&
               SessionDecrypt(cipher, reply.data() + MsgHeader::kSize, header.length, plain.data(), &n) ==
                   SessionKeyStatus::Ok &&
               n >= 2 && ReadU16(plain.data()) == 1;
    }

    int fd = -1;
    CipherHandle cipher = nullptr;
};

void Hello_corvane(benchmark::State& state) {
    if (!TheHost().running) return state.SkipWithError("the BLE library stand-in did not start");
    BenchPhone phone;
    Bytes reply;
    for (auto _ : state) {
        if (!phone.Hello(reply)) return state.SkipWithError("hello failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void KeyedStatus_corvane(benchmark::State& state) {
    if (!TheHost().running) return state.SkipWithError("the BLE library stand-in did not start");
    BenchPhone phone;
    Bytes reply;
    if (!phone.Hello(reply)) return state.SkipWithError("hello failed");
    for (auto _ : state) {
        if (!phone.Exchange(phone.StatusRequest(), reply) || !phone.OpenStatusReply(reply)) {
            return state.SkipWithError("status request failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// The bare peer: the same request bytes over a socket pair, answered with as many bytes as the
// service answers, by one thread that reads each framed request first.
void BareExchange(benchmark::State& state, bool keyed) {
    if (!TheHost().running) return state.SkipWithError("the BLE library stand-in did not start");
    Bytes request;
    Bytes reply;
    {
        BenchPhone phone;
        if (!phone.Hello(reply)) return state.SkipWithError("hello failed");
        request = HelloMessage();
        if (keyed) {
            request = phone.StatusRequest();
            if (!phone.Exchange(request, reply)) return state.SkipWithError("status request failed");
        }
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return state.SkipWithError("no socket pair");
    std::thread server([fd = pair[1], answer = reply] {
        Bytes message;
        while (phone::ReadMessage(fd, message, -1) && phone::SendAll(fd, answer.data(), answer.size())) {
        }
    });
    Bytes received;
    for (auto _ : state) {
        if (!phone::SendAll(pair[0], request.data(), request.size()) || !phone::ReadMessage(pair[0], received, 10000)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    ::shutdown(pair[0], SHUT_RDWR);
    server.join();
    ::close(pair[0]);
    ::close(pair[1]);
    state.SetItemsProcessed(state.iterations());
}

void Hello_socketpair(benchmark::State& state) { BareExchange(state, false); }
void KeyedStatus_socketpair(benchmark::State& state) { BareExchange(state, true); }

BENCHMARK(Hello_corvane)->Name("BlePhoneHello/corvane")->UseRealTime();
BENCHMARK(Hello_socketpair)->Name("BlePhoneHello/socketpair")->UseRealTime();
BENCHMARK(KeyedStatus_corvane)->Name("BlePhoneStatus/corvane")->UseRealTime();
BENCHMARK(KeyedStatus_socketpair)->Name("BlePhoneStatus/socketpair")->UseRealTime();

}  // namespace
}  // namespace corvane
