// Feeds HandleDeviceRequest with any sequence of messages on one phone connection, before and
// after a hello: hellos with any lengths and offsets, requests before a key, keyed requests whose
// payloads are sealed with the session key so that the dispatch sees them in plain. The
// environment is fake: no threads run (a phone device leaves the map at once), randomness is a
// counter, the relay and the session list answer from stand-ins. Besides the sanitizers it checks
// the handler's promises: a reply always frames exactly and carries the request's code OR 0x8000.
//
// Input: byte 0 chooses the switches (bit 0 a valid hello first, bit 1 seal the payloads of the
// following requests, bit 2 a container-list hello), the rest is a sequence of messages, each an
// 8-byte header followed by at most `length` payload bytes (the last one may be cut short).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "crypto/rsa.h"
#include "crypto/session_key.h"
#include "device/ble_library.h"
#include "device/device_map.h"
#include "phone/device_hello.h"
#include "phone/device_session.h"
#include "local_mutexes.h"
#include "wire/msg_header.h"

namespace {

using namespace corvane;

void Check(bool condition) {
    if (!condition) std::abort();
}

class StillClock final : public IClock {
public:
    uint32_t GetTickCount() override { return m_tick; }
    FileTime GetSystemTimeAsFileTime() override { return 133000000000000000; }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t ms) override { m_tick += ms; }

private:
    uint32_t m_tick = 1000;
};

using fuzz::LocalMutexes;

class NoThreads final : public IThreads {
public:
    bool CreateThread(std::function<void()>) override { return false; }
    uint32_t GetCurrentThreadId() override { return 1; }
    bool PostQuit(uint32_t) override { return false; }
    void RunMessageLoop() override {}
};

class CountingSystem final : public ISystem {
public:
    uint32_t GetComputerNameNetBios(std::u16string& out) override { return out = u"FUZZPC", 0; }
    uint32_t GetComputerNameDnsDomain(std::u16string& out) override { return out = u"fuzz.example", 0; }
    uint16_t GetUserDefaultUILanguage() override { return 0x0409; }
    void SetUserDefaultLocale() override {}
    std::u16string GetCommandLine() override { return u"corvane"; }
    uint32_t GetModuleFileName(std::u16string& out) override { return out = u"corvane", 0; }
    uint32_t GetProgramDataFolder(std::u16string& out) override { return out = u"/", 0; }
    uint32_t GetWindowsFolder(std::u16string& out) override { return out = u"/", 0; }
    uint32_t GetSystemDirectory(std::u16string& out) override { return out = u"/", 0; }
    std::u16string JoinPath(std::u16string_view a, std::u16string_view b) override {
        return std::u16string(a) + u"/" + std::u16string(b);
    }
    uint32_t CreateDirectories(std::u16string_view) override { return 0; }
    bool RunCommand(std::u16string_view) override { return false; }
    uint32_t CreateGuid(Guid&) override { return 0; }
    uint32_t GenRandom(void* buffer, size_t size) override {
        auto* p = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(++m_counter * 131u + 7u);
        return 0;
    }
    void ShowMessage(std::u16string_view, std::u16string_view) override {}
    const char* LineEnd() override { return "\n"; }

private:
    uint32_t m_counter = 0;
};

// The phone's key pair, made once.
struct PhoneKey {
    PhoneKey() {
        auto engine = std::make_shared<std::mt19937_64>(42);
        const RandomSource random = [engine](uint8_t* b, size_t n) {
            for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((*engine)());
            return uint32_t {0};
        };
        Check(RsaGenerate(&handle, 512, 65537, random) == 0);
        uint32_t size = 0;
        RsaExport(handle, 1, nullptr, &size);
        der.resize(size);
        RsaExport(handle, 1, der.data(), &size);
    }
    RsaHandle handle = nullptr;
    std::vector<uint8_t> der;
};

std::vector<uint8_t> Message(uint16_t code, const uint8_t* payload, size_t length) {
    std::vector<uint8_t> m(MsgHeader::kSize + length);
    MsgHeader {code, static_cast<uint16_t>(length), 0}.Encode(m.data());
    if (length) std::memcpy(m.data() + MsgHeader::kSize, payload, length);
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PhoneKey key;
    if (size == 0) return 0;
    const uint8_t switches = data[0];
    ++data;
    --size;

    StillClock clock;
    LocalMutexes mutexes;
    NoThreads threads;
    CountingSystem system;
    Platform platform;
    platform.clock = &clock;
    platform.mutexes = &mutexes;
    platform.threads = &threads;
    platform.system = &system;
    Configuration config;
    config.g_strHostGuid = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
    config.g_strComputerName = u"FUZZPC";
    config.g_strDnsDomain = u"fuzz.example";
    DeviceMap devices(config);
    std::atomic<int32_t> workers {0};
    DeviceWorkerHost workerHost {threads, devices, workers};
    CBleLibrarySlot noLibrary;
    CDeviceSession session(BthDeviceEnv {platform, config, workerHost, &noLibrary});
    DeviceSessionHooks& hooks = session.Hooks();
    hooks.RelayLogonRequest = [](std::u16string_view id, const uint8_t* request, size_t length, ReplyArena& arena,
                                 uint8_t** reply, size_t* replySize) -> uint32_t {
        Check(!id.empty() && id.size() < 40 && MsgHeader::Decode(request, length)->MatchesSize(length));
        *reply = arena.Allocate(MsgHeader::kSize + 1);
        MsgHeader {0x9021, 1, 0x20000022}.Encode(*reply);
        *replySize = MsgHeader::kSize + 1;
        return 0;
    };
    hooks.BuildSessionList = [](uint8_t*& message, size_t& length, ReplyArena& arena) -> uint32_t {
        message = arena.Allocate(MsgHeader::kSize + 2);
        MsgHeader {0x3105, 2, 0}.Encode(message);
        length = MsgHeader::kSize + 2;
        return 0;
    };
    hooks.GetPublished = [](std::u16string& user, uint16_t& state) {
        user = u"anna@CORP";
        state = 1;
    };

    auto* connection = new BleConnection;
    connection->m_hDevice = 0x100;
    CipherHandle phoneCipher = nullptr;
    auto send = [&](const std::vector<uint8_t>& message) {
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t replySize = 0;
        const uint32_t rc =
            session.HandleDeviceRequest(*connection, message.data(), message.size(), arena, &reply, &replySize);
        if (rc == 0) {
            const auto header = MsgHeader::Decode(reply, replySize);
            Check(header && header->MatchesSize(replySize));
            Check(header->code == MsgHeader::ReplyCode(ReadU16(message.data())));
        }
        return std::make_pair(rc, std::vector<uint8_t>(reply, reply + replySize));
    };

    if (switches & 1) {
        const std::vector<uint8_t> hello = BuildDeviceHelloRequest("fuzz-phone", "Fuzz", "", key.der.data(), key.der.size());
        const auto [rc, reply] = send(Message((switches & 4) ? 0x0102 : 0x0101, hello.data(), hello.size()));
        Check(rc == 0);
        DeviceHelloReply fields;
        Check(ParseDeviceHelloReply(reply.data() + MsgHeader::kSize, reply.size() - MsgHeader::kSize, fields) == 0);
        Check(UnwrapSessionKey(key.handle, fields.wrappedKey, fields.wrappedKeyLength, &phoneCipher) ==
              SessionKeyStatus::Ok);
    }

    while (size >= MsgHeader::kSize) {
        const MsgHeader header = *MsgHeader::Decode(data, size);
        const size_t length = std::min<size_t>(header.length, size - MsgHeader::kSize);
        const uint8_t* payload = data + MsgHeader::kSize;
        std::vector<uint8_t> message;
        if ((switches & 2) && phoneCipher && length > 0 && header.code != 0x0101 && header.code != 0x0102) {
            std::vector<uint8_t> sealed(length + kSessionPaddingMax);
            size_t sealedLength = 0;
            Check(SessionEncrypt(phoneCipher, payload, length, sealed.data(), &sealedLength) == SessionKeyStatus::Ok);
            message = Message(header.code, sealed.data(), sealedLength);
        } else {
            message = Message(header.code, payload, length);
        }
        send(message);
        data += MsgHeader::kSize + length;
        size -= MsgHeader::kSize + length;
    }
    session.TeardownConnection(connection);
    if (phoneCipher) CipherDestroy(phoneCipher);
    return 0;
}
