// A phone device's keyed active channel, measured two ways.
//
// PhoneLogonTraffic: the token commands of one logon (the container by its name, its public key
// and certificate, the same three again the way the logon's second stage asks, and one
// private-key operation) through Transmit, with the token cache as the service
// runs it against the same device with the cache emptied before every command. The figures are
// the round trips to the phone per logon (round_trips) next to the commands sent (commands): what
// the cache saves; the times follow.
//
// PhoneKeyedTransmit: one keyed Transmit round trip of a 64-byte command, against the same bytes
// written to a bare socket pair, echoed by a thread and read back. The phone answers inside the
// benchmark's in-memory BLE library on the calling thread, so the corvane figure is the service's
// own cost of a keyed exchange (seal, frame, write, read, open, and the phone's open and seal)
// while the bare figure is the kernel carrying the bytes to another thread and back.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/host_key.h"
#include "crypto/rsa.h"
#include "crypto/session_key.h"
#include "device/cdev_bth.h"
#include "device/device_hello.h"
#include "device/device_map.h"
#include "device/device_worker.h"
#include "platform/platform.h"
#include "platform/system.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/reply_arena.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kActiveChannel = 7;
constexpr uint32_t kHostBits = 2048;
constexpr uint32_t kPhoneHandle = 0x0007;

Bytes Message(uint16_t code, const Bytes& payload, uint32_t status = 0) {
    Bytes out(MsgHeader::kSize);
    MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(out.data());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes U32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values) {
        uint8_t b[4];
        WriteU32(b, v);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

// The phone's end of the active channel: it answers each whole message written to it at once,
// on the writer's thread. The hello gets a session key wrapped under the host public key with its
// check block; token commands are opened, answered and sealed.
class AnsweringPhone final : public IBleLibrary {
public:
    explicit AnsweringPhone(ISystem& system) : m_system(system) {}
    ~AnsweringPhone() override {
        if (m_cipher) CipherDestroy(m_cipher);
    }

    uint32_t StartBleService(uint64_t*, const uint8_t*, BleConnectHandler) override { return 0; }
    uint32_t StopBleService(uint64_t) override { return 0; }
    uint32_t GetActiveChannel(uint64_t, uint64_t* channel) override {
        *channel = kActiveChannel;
        return 0;
    }
    uint32_t GetPassiveChannel(uint64_t, uint64_t* channel) override {
        *channel = kActiveChannel - 1;
        return 0;
    }
    uint32_t CloseDevice(uint64_t) override { return 0; }
    uint32_t ReadChannel(uint64_t, void* buffer, uint64_t* length, uint32_t) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inbound.empty()) return kBleTimedOut;
        const size_t n = std::min<size_t>(*length, m_inbound.size());
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < n; ++i) {
            out[i] = m_inbound.front();
            m_inbound.pop_front();
        }
        *length = n;
        return 0;
    }
    uint32_t WriteChannel(uint64_t, const void* buffer, uint64_t* length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto* in = static_cast<const uint8_t*>(buffer);
        m_pending.insert(m_pending.end(), in, in + *length);
        while (m_pending.size() >= MsgHeader::kSize) {
            const MsgHeader header = *MsgHeader::Decode(m_pending.data(), m_pending.size());
            const size_t size = MsgHeader::kSize + header.length;
            if (m_pending.size() < size) break;
            const Bytes payload(m_pending.begin() + MsgHeader::kSize, m_pending.begin() + static_cast<long>(size));
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(size));
            const Bytes reply = Answer(header.code, payload);
            m_inbound.insert(m_inbound.end(), reply.begin(), reply.end());
        }
        return 0;
    }
    bool HasSignalStrengthEvents() override { return false; }
    uint32_t AddSignalStrengthEvent(uint64_t, uint64_t*, BleSignalHandler) override { return 0; }
    uint32_t RemoveSignalStrengthEvent(uint64_t, uint64_t) override { return 0; }

    uint64_t Commands() const { return m_commands; }

private:
    Bytes Answer(uint16_t code, const Bytes& payload) {
        if (code == kBthHello || code == kBthHelloContainerList) return Hello(code, payload);
        ++m_commands;
        Bytes plain(payload.size());
        size_t n = 0;
        if (!payload.empty() && SessionDecrypt(m_cipher, payload.data(), payload.size(), plain.data(), &n) !=
                                    SessionKeyStatus::Ok) {
            return Message(MsgHeader::ReplyCode(code), {}, 0x80090005);
        }
        plain.resize(n);
        Bytes body;
        switch (code) {
        case 0x2003: body = U32s({kPhoneHandle}); break;
        case 0x2022:
            body = U32s({1, kHostBits, 65537});
            body.resize(12 + kHostBits / 8, 0xC3);
            break;
        case 0x2032: body.assign(1100, 0x30); break;  // a certificate's worth of bytes
        case 0x2024: body.assign(plain.end() - std::min<size_t>(plain.size(), kHostBits / 8), plain.end()); break;
        default: body = plain; break;
        }
        Bytes sealed(body.size() + kSessionPaddingMax);
        size_t sealedSize = 0;
        if (!body.empty()) SessionEncrypt(m_cipher, body.data(), body.size(), sealed.data(), &sealedSize);
        sealed.resize(sealedSize);
        return Message(MsgHeader::ReplyCode(code), sealed);
    }

    // The session key and its check block (the first block of an empty-looking message of four
    // zero bytes sealed under the key), in a type-2 block under the host public key.
    Bytes Hello(uint16_t code, const Bytes& payload) {
        DeviceHelloRequest host;
        if (ParseDeviceHello(payload.data(), payload.size(), host) != 0) return Message(MsgHeader::ReplyCode(code), {}, 1);
        RsaHandle hostPublic = nullptr;
        uint32_t bits = 0;
        if (RsaImport(&hostPublic, &bits, 1, host.key, host.keyLength) != 0) return Message(MsgHeader::ReplyCode(code), {}, 1);
        const size_t modulusBytes = (bits + 7) / 8;
        Bytes key(kSessionKeySize);
        m_system.GenRandom(key.data(), key.size());
        if (m_cipher) CipherDestroy(m_cipher);
        m_cipher = nullptr;
        CreateSessionCipher(key.data(), &m_cipher);
        const Bytes checked(4, 0);
        Bytes check(checked.size() + kSessionPaddingMax);
        size_t checkSize = 0;
        SessionEncrypt(m_cipher, checked.data(), checked.size(), check.data(), &checkSize);
        check.resize(kCheckBlockSize);
        Bytes block(modulusBytes, 0);
        block[1] = 2;
        const size_t padding = modulusBytes - 3 - kWrappedDataSize;
        m_system.GenRandom(block.data() + 2, padding);
        for (size_t i = 0; i < padding; ++i) block[2 + i] |= 1;  // padding bytes are never zero
        std::memcpy(block.data() + 3 + padding, key.data(), key.size());
        std::memcpy(block.data() + 3 + padding + key.size(), check.data(), check.size());
        Bytes wrapped(modulusBytes);
        RsaPublic(hostPublic, block.data(), static_cast<uint32_t>(modulusBytes), wrapped.data());
        RsaDestroy(hostPublic);
        return Message(MsgHeader::ReplyCode(code),
                       BuildDeviceHelloRequest("bench-phone", "Pixel", "2.0", wrapped.data(), wrapped.size()));
    }

    ISystem& m_system;
    std::mutex m_mutex;
    Bytes m_pending;
    std::deque<uint8_t> m_inbound;
    CipherHandle m_cipher = nullptr;
    uint64_t m_commands = 0;
};

// A phone device keyed to an answering phone, on the native platform under a state root of its own.
class KeyedDevice {
public:
    KeyedDevice() {
        char dir[] = "/tmp/corvane-phone-link-bench.XXXXXX";
        if (::mkdtemp(dir) != nullptr) m_root = dir;
        ::setenv("CORVANE_ROOT", m_root.c_str(), 1);
        m_native = CreateNativePlatform();
        m_platform = std::make_unique<Platform>(m_native->Get());
        OpenServiceMutexes(*m_platform, m_config);
        m_config.g_strHostGuid = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
        m_config.g_strComputerName = u"DESK7";
        m_config.g_strDnsDomain = u"corp.example";
        ISystem& system = *m_platform->system;
        RsaHandle hostKey = nullptr;
        const RandomSource random = [&system](uint8_t* buffer, size_t size) { return system.GenRandom(buffer, size); };
        RsaGenerate(&hostKey, kHostBits, 65537, random);
        m_hostKey.g_hostKey.Attach(hostKey);
        m_hostKey.g_nHostKeyBits = static_cast<int32_t>(kHostBits);
        m_phone = std::make_unique<AnsweringPhone>(system);
        m_connection.m_hDevice = 0x100;
        m_connection.m_strDeviceId = u"bench-phone";
        m_connection.m_strDeviceName = u"Pixel";
        m_host = std::make_unique<DeviceWorkerHost>(*m_platform->threads, m_devices, m_workers);
        BthDeviceEnv env {*m_platform, m_config, *m_host, m_phone.get(), nullptr, &m_hostKey};
        m_device = std::make_unique<CDevBth>(env, m_connection);
    }
    ~KeyedDevice() {
        m_device.reset();
        m_host.reset();
        m_platform.reset();
        m_native.reset();
        std::error_code ignored;
        if (!m_root.empty()) std::filesystem::remove_all(m_root, ignored);
    }
    bool Ok() const { return !m_root.empty() && m_hostKey.g_hostKey.Get() != nullptr; }

    uint32_t Transmit(const Bytes& request, ReplyArena& arena, size_t& replySize) {
        uint8_t* reply = nullptr;
        return m_device->Transmit(request.data(), request.size(), &reply, &replySize, arena);
    }
    CDevBth& Device() { return *m_device; }
    uint64_t PhoneCommands() const { return m_phone->Commands(); }

private:
    std::string m_root;
    std::unique_ptr<NativePlatform> m_native;
    std::unique_ptr<Platform> m_platform;
    Configuration m_config;
    HostKey m_hostKey;
    DeviceMap m_devices {m_config};
    std::atomic<int32_t> m_workers {0};
    std::unique_ptr<DeviceWorkerHost> m_host;
    std::unique_ptr<AnsweringPhone> m_phone;
    BleConnection m_connection;
    std::unique_ptr<CDevBth> m_device;
};

// The token commands of one logon.
std::vector<Bytes> LogonCommands() {
    Bytes name = {'p', 'h', 'o', 'n', 'e', '-', 'k', 'e', 'y', 0};
    Bytes block(kHostBits / 8, 0x5A);
    block[0] = 0;
    Bytes sign = U32s({kPhoneHandle, 1});
    sign.insert(sign.end(), block.begin(), block.end());
    return {
        Message(0x2003, name),                      // the container
        Message(0x2022, U32s({kPhoneHandle, 1})),   // its public key
        Message(0x2032, U32s({kPhoneHandle, 1})),   // its certificate
        Message(0x2003, name),                      // the same again, for the logon's second stage
        Message(0x2022, U32s({kPhoneHandle, 1})),
        Message(0x2032, U32s({kPhoneHandle, 1})),
        Message(0x2024, sign),                      // the private-key operation of the logon
    };
}

void LogonTraffic(benchmark::State& state, bool cached) {
    KeyedDevice keyed;
    if (!keyed.Ok()) {
        state.SkipWithError("no state root or host key");
        return;
    }
    const std::vector<Bytes> logon = LogonCommands();
    uint64_t logons = 0;
    uint64_t failures = 0;
    const uint64_t before = keyed.PhoneCommands();
    for (auto _ : state) {
        // Each logon starts with an empty cache, as after the phone's status notification.
        keyed.Device().ResetCacheV1();
        for (const Bytes& command : logon) {
            if (!cached) keyed.Device().ResetCacheV1();
            ReplyArena arena;
            size_t size = 0;
            if (keyed.Transmit(command, arena, size) != 0) ++failures;
        }
        ++logons;
    }
    const double n = static_cast<double>(logons ? logons : 1);
    state.counters["commands"] = static_cast<double>(logon.size());
    state.counters["round_trips"] = static_cast<double>(keyed.PhoneCommands() - before) / n;
    if (failures != 0) state.SkipWithError("a command failed");
}

void LogonTraffic_corvane(benchmark::State& state) { LogonTraffic(state, true); }
void LogonTraffic_uncached(benchmark::State& state) { LogonTraffic(state, false); }

void KeyedTransmit_corvane(benchmark::State& state) {
    KeyedDevice keyed;
    if (!keyed.Ok()) {
        state.SkipWithError("no state root or host key");
        return;
    }
    const Bytes command = Message(0x2099, Bytes(64, 0xA5));
    ReplyArena warm;
    size_t size = 0;
    keyed.Transmit(command, warm, size);  // the hello that keys the channel is not measured
    for (auto _ : state) {
        ReplyArena arena;
        if (keyed.Transmit(command, arena, size) != 0) {
            state.SkipWithError("transmit failed");
            break;
        }
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(command.size()) * 2);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void KeyedTransmit_socketpair(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    const Bytes command = Message(0x2099, Bytes(64, 0xA5));
    std::thread echo([fd = fds[1], size = command.size()] {
        Bytes buffer(size);
        while (ReadAll(fd, buffer.data(), buffer.size()) && WriteAll(fd, buffer.data(), buffer.size())) {
        }
    });
    Bytes reply(command.size());
    for (auto _ : state) {
        if (!WriteAll(fds[0], command.data(), command.size()) || !ReadAll(fds[0], reply.data(), reply.size())) {
            state.SkipWithError("socket pair failed");
            break;
        }
    }
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(command.size()) * 2);
}

BENCHMARK(LogonTraffic_corvane)->Name("PhoneLogonTraffic/corvane")->Unit(benchmark::kMicrosecond);
BENCHMARK(LogonTraffic_uncached)->Name("PhoneLogonTraffic/uncached")->Unit(benchmark::kMicrosecond);
BENCHMARK(KeyedTransmit_corvane)->Name("PhoneKeyedTransmit/corvane")->UseRealTime();
BENCHMARK(KeyedTransmit_socketpair)->Name("PhoneKeyedTransmit/socketpair")->UseRealTime();

}  // namespace
}  // namespace corvane
