// A phone device's active channel: the hello that keys it (every check of the phone's reply, the
// key container before the host key pair), token commands forwarded keyed or answered from the
// token cache, the key's idle drop, replies that do not fit, a phone that closes its channel in
// the middle of a command, the logon-state report, and how long the worker sleeps between checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/host_key.h"
#include "crypto/rsa.h"
#include "crypto/session_key.h"
#include "device/cdev_bth.h"
#include "device/device_hello.h"
#include "device/device_map.h"
#include "platform/text.h"
#include "support/fake_ble_library.h"
#include "support/phone_keys.h"
#include "support/test_platform.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHostBits = 2048;
constexpr uint32_t kHostBytes = kHostBits / 8;

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

Bytes Name(const std::string& name) {
    Bytes out(name.begin(), name.end());
    out.push_back(0);
    return out;
}

Bytes Seal(CipherHandle cipher, const Bytes& plain) {
    if (plain.empty()) return {};
    Bytes out(plain.size() + kSessionPaddingMax);
    size_t n = 0;
    EXPECT_EQ(SessionEncrypt(cipher, plain.data(), plain.size(), out.data(), &n), SessionKeyStatus::Ok);
    out.resize(n);
    return out;
}

Bytes Open(CipherHandle cipher, const Bytes& sealed) {
    if (sealed.empty()) return {};
    Bytes out(sealed.size());
    size_t n = 0;
    EXPECT_EQ(SessionDecrypt(cipher, sealed.data(), sealed.size(), out.data(), &n), SessionKeyStatus::Ok);
    out.resize(n);
    return out;
}

// The 24 wrapped bytes: a session key and its check block, the encryption of `checked` under the
// key. `cipher` receives the key's cipher (the phone's copy).
Bytes KeyData(const Bytes& checked, CipherHandle* cipher) {
    Bytes key(kSessionKeySize);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0x31 + 7 * i);
    EXPECT_EQ(CreateSessionCipher(key.data(), cipher), SessionKeyStatus::Ok);
    // An empty message encrypts to one block of padding alone: the first block of eight 8s.
    Bytes check = checked.empty() ? Seal(*cipher, Bytes(8, 8)) : Seal(*cipher, checked);
    check.resize(kCheckBlockSize);
    key.insert(key.end(), check.begin(), check.end());
    return key;
}

// A type-2 block of the host modulus' length around `data` (padding of whatever length is left),
// enciphered under the host public key.
Bytes Wrap(RsaHandle hostPublic, const Bytes& data, size_t padding) {
    Bytes block(kHostBytes, 0);
    block[1] = 2;
    for (size_t i = 0; i < padding; ++i) block[2 + i] = static_cast<uint8_t>(0x11 + i % 200);
    // The data fills the rest of the block behind the separator.
    const size_t at = 3 + padding;
    for (size_t i = at; i < block.size(); ++i) block[i] = data[(i - at) % data.size()];
    Bytes out(kHostBytes);
    EXPECT_EQ(RsaPublic(hostPublic, block.data(), kHostBytes, out.data()), 0);
    return out;
}

// How one hello reply is made: the check block's plaintext, the padding's length, and a change
// applied to the reply payload before it is sent.
struct HelloScript {
    Bytes checked {0, 0, 0, 0};
    size_t padding = kHostBytes - 3 - kWrappedDataSize;
    std::function<void(Bytes& payload, Bytes& wrapped)> mangle;
    uint32_t status = 0;
};

// The phone's end of the active channel, driven by what the device writes there.
class ScriptedPhone {
public:
    ScriptedPhone(FakeBleLibrary& ble, uint64_t channel) : m_ble(ble), m_channel(channel) {}
    ~ScriptedPhone() {
        if (m_cipher) CipherDestroy(m_cipher);
    }

    void OnWrite(uint64_t channel) {
        if (channel != m_channel) return;
        const Bytes written = m_ble.TakeWritten(channel);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(m_pending.end(), written.begin(), written.end());
        while (m_pending.size() >= MsgHeader::kSize) {
            const MsgHeader header = *MsgHeader::Decode(m_pending.data(), m_pending.size());
            const size_t size = MsgHeader::kSize + header.length;
            if (m_pending.size() < size) break;
            const Bytes message(m_pending.begin(), m_pending.begin() + static_cast<long>(size));
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(size));
            Handle(header, Bytes(message.begin() + MsgHeader::kSize, message.end()));
        }
    }

    std::vector<uint16_t> Seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    size_t Count(uint16_t code) {
        const auto seen = Seen();
        return static_cast<size_t>(std::count(seen.begin(), seen.end(), code));
    }
    std::vector<Bytes> Commands() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands;
    }

    HelloScript hello;
    // The plain reply (whole message) to a plain command; empty: the phone stays silent.
    std::function<Bytes(uint16_t code, const Bytes& payload)> answer = [](uint16_t code, const Bytes&) {
        return Message(MsgHeader::ReplyCode(code), {});
    };
    // Something sent before the reply (another message, stray bytes).
    Bytes before;
    // The phone ends its channel when a command arrives, instead of answering.
    bool closeOnCommand = false;
    // What happens on the phone's side when it closes (another thread's teardown, say).
    std::function<void()> onClose;
    // The reply's payload is sent as it is, not encrypted.
    bool plainReplies = false;
    // The phone is slow: each reply is held back and sent just before the phone's next message,
    // as a phone that answers in order does once the device has given up waiting.
    bool late = false;

private:
    void Handle(const MsgHeader& header, const Bytes& payload) {
        m_seen.push_back(header.code);
        if (header.code == kBthHello || header.code == kBthHelloContainerList) {
            Feed(Hello(header.code, payload));
            return;
        }
        ASSERT_NE(m_cipher, nullptr);
        const Bytes plain = Open(m_cipher, payload);
        m_commands.push_back(Message(header.code, plain, header.status));
        if (closeOnCommand) {
            m_ble.CloseChannel(m_channel);
            if (onClose) onClose();
            return;
        }
        const Bytes reply = answer(header.code, plain);
        if (reply.empty()) return;
        const MsgHeader replyHeader = *MsgHeader::Decode(reply.data(), reply.size());
        const Bytes replyPayload(reply.begin() + MsgHeader::kSize, reply.end());
        const Bytes sealed =
            Message(replyHeader.code, plainReplies ? replyPayload : Seal(m_cipher, replyPayload), replyHeader.status);
        if (late) {
            m_held.push_back(sealed);
            return;
        }
        Feed(sealed);
    }

    Bytes Hello(uint16_t code, const Bytes& payload) {
        DeviceHelloRequest host;
        EXPECT_EQ(ParseDeviceHello(payload.data(), payload.size(), host), 0u);
        RsaHandle hostPublic = nullptr;
        EXPECT_EQ(RsaImport(&hostPublic, nullptr, 1, host.key, host.keyLength), 0);
        if (m_cipher) CipherDestroy(m_cipher);
        m_cipher = nullptr;
        Bytes wrapped = Wrap(hostPublic, KeyData(hello.checked, &m_cipher), hello.padding);
        RsaDestroy(hostPublic);
        Bytes body = BuildDeviceHelloRequest("phone-7", "Pixel", "2.0", wrapped.data(), wrapped.size());
        if (hello.mangle) hello.mangle(body, wrapped);
        if (hello.status != 0) body.clear();
        return Message(MsgHeader::ReplyCode(code), body, hello.status);
    }

    void Feed(const Bytes& message) {
        for (const Bytes& held : m_held) m_ble.Feed(m_channel, held);
        m_held.clear();
        if (!before.empty()) m_ble.Feed(m_channel, before);
        m_ble.Feed(m_channel, message);
    }

    FakeBleLibrary& m_ble;
    uint64_t m_channel;
    std::mutex m_mutex;
    Bytes m_pending;
    std::vector<uint16_t> m_seen;
    std::vector<Bytes> m_commands;
    std::vector<Bytes> m_held;
    CipherHandle m_cipher = nullptr;
};

struct Answer {
    uint32_t rc = 0;
    MsgHeader header;
    Bytes payload;
};

class BthLinkTest : public ::testing::Test {
protected:
    BthLinkTest() {
        OpenServiceMutexes(tp.Get(), config);
        config.g_strHostGuid = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
        config.g_strComputerName = u"DESK7";
        config.g_strDnsDomain = u"corp.example";
        // The host key pair: the 2048-bit test pair in a context of its own.
        const TestKeyPair& pair = PhoneTestKey(kHostBits);
        uint32_t size = 0;
        RsaExport(pair.handle, 2, nullptr, &size);
        Bytes der(size);
        RsaExport(pair.handle, 2, der.data(), &size);
        RsaHandle own = nullptr;
        EXPECT_EQ(RsaImport(&own, nullptr, 2, der.data(), size), 0);
        hostKey.g_hostKey.Attach(own);
        hostKey.g_nHostKeyBits = static_cast<int32_t>(kHostBits);

        tp.clock.SetTick(50000);
        connection.m_hDevice = ble.AddPhone();
        connection.m_strDeviceId = u"phone-7";
        connection.m_strDeviceName = u"Pixel";
        phone = std::make_unique<ScriptedPhone>(ble, connection.m_hDevice + 2);
        ble.onWrite = [this](uint64_t channel) { phone->OnWrite(channel); };
        device = std::make_unique<CDevBth>(Env(), connection);
    }
    ~BthLinkTest() override {
        device.reset();
        tp.threads.JoinAll();
        ble.onWrite = nullptr;
    }
    BthDeviceEnv Env() {
        BthDeviceEnv env {tp.Get(), config, workerHost, &ble, nullptr, &hostKey};
        env.buildSessionList = [this](uint8_t*& message, size_t& size, ReplyArena& arena) {
            const Bytes list = Message(kBthSessionList, {1, 0, 0x42});
            message = arena.Allocate(list.size());
            std::memcpy(message, list.data(), list.size());
            size = list.size();
            return 0u;
        };
        return env;
    }
    uint64_t Active() const { return connection.m_hDevice + 2; }

    Answer Send(const Bytes& request) {
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        Answer a;
        a.rc = device->Transmit(request.data(), request.size(), &reply, &size, arena);
        if (a.rc == 0) {
            a.header = *MsgHeader::Decode(reply, size);
            a.payload.assign(reply + MsgHeader::kSize, reply + size);
        } else {
            EXPECT_EQ(reply, nullptr);
            EXPECT_EQ(size, 0u);
        }
        return a;
    }

    TestPlatform tp;
    Configuration config;
    HostKey hostKey;
    DeviceMap devices {config};
    std::atomic<int32_t> workers {0};
    DeviceWorkerHost workerHost {tp.threads, devices, workers};
    FakeBleLibrary ble;
    BleConnection connection;
    std::unique_ptr<ScriptedPhone> phone;
    std::unique_ptr<CDevBth> device;
};

TEST_F(BthLinkTest, ATokenCommandTravelsKeyedAndItsReplyComesBackPlain) {
    phone->answer = [](uint16_t code, const Bytes& payload) {
        return Message(MsgHeader::ReplyCode(code), Bytes(payload.rbegin(), payload.rend()), 0x1234);
    };
    const Answer a = Send(Message(0x2099, {1, 2, 3, 4, 5}));
    ASSERT_EQ(a.rc, 0u);
    EXPECT_EQ(a.header.code, 0xA099);
    EXPECT_EQ(a.header.status, 0x1234u);  // the phone's status is the caller's to read
    EXPECT_EQ(a.payload, (Bytes {5, 4, 3, 2, 1}));
    EXPECT_EQ(phone->Seen(), (std::vector<uint16_t> {kBthHello, 0x2099}));
    EXPECT_TRUE(device->IsKeyed());
    ASSERT_EQ(phone->Commands().size(), 1u);
    EXPECT_EQ(phone->Commands()[0], Message(0x2099, {1, 2, 3, 4, 5}));

    // The key stays: the next command goes without a hello, and an empty payload travels as is.
    EXPECT_EQ(Send(Message(0x2041, {})).rc, 0u);
    EXPECT_EQ(phone->Count(kBthHello), 1u);
    EXPECT_EQ(device->GetBusy(), 0);
}

TEST_F(BthLinkTest, RepeatedTokenQuestionsAreAnsweredFromTheCache) {
    phone->answer = [](uint16_t code, const Bytes& payload) {
        switch (code) {
        case 0x2003: return Message(0xA003, U32s({7}));
        case 0x2022: {
            Bytes key = U32s({2, 512, 65537});
            key.resize(12 + 64, 0xC3);
            return Message(0xA022, key);
        }
        case 0x2032: return Message(0xA032, {}, 0x80090011);
        default: return Message(MsgHeader::ReplyCode(code), {}, 0x80090029);
        }
    };
    const std::vector<Bytes> logon = {
        Message(0x2003, Name("Sig")), Message(0x2022, U32s({7, 2})), Message(0x2032, U32s({7, 2})),
        Message(0x2003, Name("SIG")), Message(0x2022, U32s({7, 2})), Message(0x2032, U32s({7, 2})),
    };
    std::vector<Answer> answers;
    for (const Bytes& request : logon) answers.push_back(Send(request));
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(answers[i].rc, 0u);
        ASSERT_EQ(answers[i + 3].rc, 0u);
        EXPECT_EQ(answers[i + 3].header.code, answers[i].header.code);
        EXPECT_EQ(answers[i + 3].header.status, answers[i].header.status);
        EXPECT_EQ(answers[i + 3].payload, answers[i].payload);
    }
    // Only the first three reached the phone.
    EXPECT_EQ(phone->Seen(), (std::vector<uint16_t> {kBthHello, 0x2003, 0x2022, 0x2032}));

    // A rebind empties the cache: the same question goes to the phone again.
    device->Rebind(connection, u"Pixel");
    EXPECT_EQ(Send(Message(0x2003, Name("Sig"))).rc, 0u);
    EXPECT_EQ(phone->Count(0x2003), 2u);
}

// The token information block is kept like the containers, and a rebind forgets it too: a phone
// that comes back may carry another token.
TEST_F(BthLinkTest, ARebindForgetsTheCachedTokenInformation) {
    uint8_t generation = 1;
    phone->answer = [&](uint16_t code, const Bytes&) {
        return code == 0x2041 ? Message(0xA041, Bytes(16, generation)) : Message(MsgHeader::ReplyCode(code), {}, 0x80090029);
    };
    EXPECT_EQ(Send(Message(0x2041, {})).payload, Bytes(16, 1));
    EXPECT_EQ(Send(Message(0x2041, {})).payload, Bytes(16, 1));
    EXPECT_EQ(phone->Count(0x2041), 1u);

    generation = 2;
    device->Rebind(connection, u"Pixel");
    EXPECT_EQ(Send(Message(0x2041, {})).payload, Bytes(16, 2));
    EXPECT_EQ(phone->Count(0x2041), 2u);
}

// The closing thread takes the handle under the machine-wide release mutex, which the device
// opens on first use: while another holder keeps it, the phone's handle is not given back.
TEST_F(BthLinkTest, TheHandleIsGivenBackUnderTheMachineWideReleaseMutex) {
    const MutexHandle release = tp.mutexes.OpenOrCreate(kMutexTovrelSvr, true);
    ASSERT_NE(release, nullptr);
    release->Lock();
    device->Close();
    EXPECT_FALSE(ble.WaitClosed(connection.m_hDevice, 300)) << "closed without the release mutex";
    release->Unlock();
    EXPECT_TRUE(ble.WaitClosed(connection.m_hDevice));
    EXPECT_NE(config.m_hSvrMutex, nullptr);
}

// A rebind renames the device while a worker copies the name for an audit row (run under TSan).
TEST_F(BthLinkTest, TheNameIsCopiedSafelyWhileARebindRenamesTheDevice) {
    std::atomic<bool> done {false};
    std::thread renamer([&] {
        for (int i = 0; i < 200; ++i) device->Rebind(connection, i % 2 ? u"Pixel" : u"A much longer phone name");
        done = true;
    });
    while (!done.load()) {
        const std::u16string name = device->GetName();
        EXPECT_TRUE(name == u"Pixel" || name == u"A much longer phone name") << Utf16ToUtf8(name);
    }
    renamer.join();
}

TEST_F(BthLinkTest, EveryCheckOfTheHelloReply) {
    struct Case {
        const char* name;
        std::function<void(HelloScript&)> script;
        uint32_t rc;
    };
    const std::vector<Case> cases = {
        {"a check block of four zero bytes", [](HelloScript&) {}, 0},
        {"a check block of an empty message", [](HelloScript& h) { h.checked.clear(); }, 0},
        {"a check block with a non-zero byte", [](HelloScript& h) { h.checked = {0, 0, 1, 0}; }, Result::NteBadData},
        {"version 3", [](HelloScript& h) { h.mangle = [](Bytes& p, Bytes&) { WriteU16(p.data(), 3); }; },
         Result::NteBadData},
        {"a payload shorter than the fixed part",
         [](HelloScript& h) { h.mangle = [](Bytes& p, Bytes&) { p.resize(49); }; }, Result::NteBadData},
        {"the second text starting inside the first",
         [](HelloScript& h) { h.mangle = [](Bytes& p, Bytes&) { WriteU16(p.data() + 44, 2); }; },
         Result::NteBadData},
        {"the key starting inside a text",
         [](HelloScript& h) { h.mangle = [](Bytes& p, Bytes&) { WriteU16(p.data() + 46, 1); }; },
         Result::NteBadData},
        {"a byte more than the frame says",
         [](HelloScript& h) { h.mangle = [](Bytes& p, Bytes&) { p.push_back(0); }; }, Result::NteBadData},
        {"a 255-byte key for a 2048-bit host key",
         [](HelloScript& h) {
             h.mangle = [](Bytes& p, Bytes& wrapped) {
                 p = BuildDeviceHelloRequest("phone-7", "Pixel", "2.0", wrapped.data() + 1, wrapped.size() - 1);
             };
         },
         Result::NteBadData},
        {"seven padding bytes", [](HelloScript& h) { h.padding = 7; }, Result::NteBadData},
        {"23 wrapped bytes", [](HelloScript& h) { h.padding = kHostBytes - 3 - 23; }, Result::NteBadData},
        {"25 wrapped bytes", [](HelloScript& h) { h.padding = kHostBytes - 3 - 25; }, Result::NteBadData},
        {"the phone's own error", [](HelloScript& h) { h.status = 0x8009000B; }, 0x8009000Bu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->Rebind(connection, u"Pixel");
        phone->hello = HelloScript {};
        c.script(phone->hello);
        const size_t hellos = phone->Count(kBthHello);
        const size_t commands = phone->Commands().size();
        EXPECT_EQ(Send(Message(0x2041, {})).rc, c.rc);
        EXPECT_EQ(device->IsKeyed(), c.rc == 0);
        EXPECT_EQ(phone->Count(kBthHello), hellos + 1);
        // Nothing reaches the phone on a channel that is not keyed.
        EXPECT_EQ(phone->Commands().size(), commands + (c.rc == 0 ? 1 : 0));
        EXPECT_EQ(device->GetBusy(), 0);
    }
    // The refused key length is refused before any decryption.
    EXPECT_EQ(tp.keyContainers.DecryptCalls(), 0u);
}

TEST_F(BthLinkTest, TheKeyContainerUnwrapsFirstAndTheHostKeyPairWhenItFails) {
    // The container named by the host GUID text, holding the key pair.
    CryptProvHandle prov = 0;
    ASSERT_EQ(tp.keyContainers.AcquireContext(prov, config.g_strHostGuid, kMsStrongProvider, kProvRsaFull,
                                              kCryptNewKeyset),
              0u);
    CryptKeyHandle imported = 0;
    const uint8_t blob[] = {7, 2, 0, 0};
    ASSERT_EQ(tp.keyContainers.ImportKey(prov, blob, sizeof blob, 0, imported), 0u);
    tp.keyContainers.DestroyKey(imported);
    tp.keyContainers.ReleaseContext(prov);

    // The provider takes the block least significant byte first and hands back the data alone.
    auto decryptRight = [this](const std::u16string& container, uint8_t* data, uint32_t& length) -> uint32_t {
        EXPECT_EQ(container, config.g_strHostGuid);
        std::reverse(data, data + length);
        Bytes block(length);
        if (RsaPrivate(hostKey.g_hostKey.Get(), data, length, block.data()) != 0) return 0x80090005;
        size_t at = 0;
        if (FindWrappedData(block.data(), length, &at) != SessionKeyStatus::Ok) return 0x80090005;
        std::memcpy(data, block.data() + at, length - at);
        length = static_cast<uint32_t>(length - at);
        return 0;
    };
    struct Case {
        const char* name;
        std::function<uint32_t(const std::u16string&, uint8_t*, uint32_t&)> decrypt;
        uint32_t rc;
    };
    const std::vector<Case> cases = {
        {"the container decrypts", decryptRight, 0},
        {"the container fails and the key pair takes over",
         [](const std::u16string&, uint8_t*, uint32_t&) -> uint32_t { return 0x80090005; }, 0},
        // What the container hands back is used as it is: other bytes give another key, whose
        // check block does not decrypt to zeros.
        {"the container gives other bytes",
         [decryptRight](const std::u16string& c, uint8_t* data, uint32_t& length) {
             const uint32_t rc = decryptRight(c, data, length);
             data[0] ^= 0x40;
             return rc;
         },
         Result::NteBadData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->Rebind(connection, u"Pixel");
        tp.keyContainers.decrypt = c.decrypt;
        const size_t calls = tp.keyContainers.DecryptCalls();
        EXPECT_EQ(Send(Message(0x2041, {})).rc, c.rc);
        EXPECT_EQ(tp.keyContainers.DecryptCalls(), calls + 1);
        EXPECT_EQ(tp.keyContainers.OpenContexts(), 0u);
    }
}

TEST_F(BthLinkTest, AStrayByteAndAnotherMessageBeforeTheReplyAreDropped) {
    ASSERT_EQ(Send(Message(0x2041, {})).rc, 0u);
    // A stray byte pending on the quiet channel is swallowed by the probe before the next command.
    ble.Feed(Active(), {0x5A});
    phone->before = Message(0xA777, {1, 2, 3});
    phone->answer = [](uint16_t code, const Bytes&) { return Message(MsgHeader::ReplyCode(code), {9, 9}); };
    const Answer a = Send(Message(0x2099, {1}));
    ASSERT_EQ(a.rc, 0u);
    EXPECT_EQ(a.header.code, 0xA099);
    EXPECT_EQ(a.payload, (Bytes {9, 9}));
}

// An exchange that failed before the phone had the request leaves the key in place; the worker's
// quiet-channel check drops it only once it has gone unused for more than 300 s, and the next
// command keys the channel afresh.
TEST_F(BthLinkTest, TheKeyIsDroppedOnlyAfterFiveIdleMinutes) {
    ASSERT_EQ(Send(Message(0x2041, {})).rc, 0u);
    ble.writeResult = kBleIoFailed;
    EXPECT_EQ(Send(Message(0x2099, {1})).rc, kBleIoFailed);
    ble.writeResult = 0;
    EXPECT_TRUE(device->IsKeyed());
    EXPECT_EQ(device->GetBusy(), 0);

    tp.clock.Advance(kBthSessionIdleMilliseconds - 1000);
    device->QuietCheck();
    EXPECT_TRUE(device->IsKeyed());
    tp.clock.Advance(1001);
    device->QuietCheck();
    EXPECT_FALSE(device->IsKeyed());

    phone->answer = [](uint16_t code, const Bytes&) { return Message(MsgHeader::ReplyCode(code), {}); };
    EXPECT_EQ(Send(Message(0x2099, {1})).rc, 0u);
    EXPECT_EQ(phone->Count(kBthHello), 2u);
}

// A command whose reply did not come in time: the phone, answering in order, sends that reply
// just before its next message. It is never taken for the reply to the next command with the
// same code, and what the command could have changed is asked of the phone again.
TEST_F(BthLinkTest, ALateReplyIsNeverTakenForTheNextOneAndItsChangeIsAskedAgain) {
    Bytes key7 = U32s({1, 512, 65537});
    key7.resize(12 + 64, 0x77);
    Bytes key8 = U32s({1, 512, 65537});
    key8.resize(12 + 64, 0x88);
    bool generated = false;
    phone->answer = [&](uint16_t code, const Bytes& payload) {
        if (code == 0x2003) return Message(0xA003, U32s({7}));
        if (code == 0x2021) {
            generated = true;
            return Message(0xA021, key7);
        }
        if (code == 0x2022 && ReadU32(payload.data()) == 8) return Message(0xA022, key8);
        if (code == 0x2022) return generated ? Message(0xA022, key7) : Message(0xA022, {}, 0x8009000D);
        return Message(MsgHeader::ReplyCode(code), {});
    };
    ASSERT_EQ(Send(Message(0x2003, Name("Sig"))).rc, 0u);
    // The phone has no key yet, and the cache learns so.
    const Answer none = Send(Message(0x2022, U32s({7, 1})));
    ASSERT_EQ(none.rc, 0u);
    EXPECT_EQ(none.header.status, 0x8009000Du);

    // The key is generated, but its reply comes too late; so does that of a question about it.
    phone->late = true;
    EXPECT_EQ(Send(Message(0x2021, U32s({7, 1, 512, 65537}))).rc, kBleTimedOut);
    phone->late = false;
    const Answer key = Send(Message(0x2022, U32s({7, 1})));
    ASSERT_EQ(key.rc, 0u);
    EXPECT_EQ(key.header.status, 0u);
    EXPECT_EQ(key.payload, key7);

    phone->late = true;
    EXPECT_EQ(Send(Message(0x2022, U32s({7, 2}))).rc, kBleTimedOut);
    phone->late = false;
    const Answer other = Send(Message(0x2022, U32s({8, 1})));
    ASSERT_EQ(other.rc, 0u);
    EXPECT_EQ(other.payload, key8);
    EXPECT_EQ(device->GetBusy(), 0);
}

TEST_F(BthLinkTest, RepliesThatCannotBeOpenedAreRefused) {
    ASSERT_EQ(Send(Message(0x2041, {})).rc, 0u);
    struct Case {
        const char* name;
        Bytes reply;
        bool plain;
        uint32_t rc;
    };
    const std::vector<Case> cases = {
        {"a payload that is not whole blocks", Message(0xA099, {1, 2, 3}), true, Result::NteFail},
        {"a payload with bad padding", Message(0xA099, Bytes(8, 0x11)), true, Result::NteFail},
        {"an empty error reply", Message(0xA099, {}, 0x80090016), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        phone->plainReplies = c.plain;
        phone->answer = [&c](uint16_t, const Bytes&) { return c.reply; };
        EXPECT_EQ(Send(Message(0x2099, {1})).rc, c.rc);
    }
    phone->plainReplies = false;
    // A request whose ciphertext no longer fits the length field is refused before it is sent.
    const size_t before = phone->Commands().size();
    EXPECT_EQ(Send(Message(0x2031, Bytes(MsgHeader::kMaxPayload - 3, 0x44))).rc, Result::NteBadLen);
    EXPECT_EQ(phone->Commands().size(), before);
    // A request whose header and size disagree goes nowhere.
    Bytes torn = Message(0x2099, {1, 2});
    torn.pop_back();
    EXPECT_EQ(Send(torn).rc, Result::NteBadLen);
    EXPECT_EQ(device->GetBusy(), 0);
}

// The phone ends its channel while a command is on its way: the device closes, the command gets
// 1167, and the busy count falls back to 0 once the BLE handle is given back, whether the release
// runs on a thread of its own, on the Transmit's own thread, or races a teardown from another
// thread.
TEST_F(BthLinkTest, APhoneClosingMidCommandNeverLeavesTheDeviceBusy) {
    struct Case {
        const char* name;
        bool threadsFail;
        bool teardownRaces;
    };
    const std::vector<Case> cases = {
        {"closing thread", false, false},
        {"release on the transmitting thread", true, false},
        {"teardown from another thread", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BleConnection link;
        link.m_hDevice = ble.AddPhone();
        link.m_strDeviceId = u"phone-8";
        ScriptedPhone far(ble, link.m_hDevice + 2);
        ble.onWrite = [&far](uint64_t channel) { far.OnWrite(channel); };
        auto phone8 = std::make_unique<CDevBth>(Env(), link);
        CDevBth* raw = phone8.get();
        std::thread teardown;
        far.closeOnCommand = true;
        if (c.teardownRaces) {
            far.onClose = [&] { teardown = std::thread([raw, &link] { raw->CloseIfDevice(link.m_hDevice); }); };
        }
        tp.threads.failCreate = c.threadsFail;
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        const Bytes request = Message(0x2099, {1, 2});
        EXPECT_EQ(raw->Transmit(request.data(), request.size(), &reply, &size, arena), kBthNotConnected);
        if (teardown.joinable()) teardown.join();
        EXPECT_TRUE(ble.WaitClosed(link.m_hDevice));
        tp.threads.JoinAll();
        tp.threads.failCreate = false;
        EXPECT_EQ(raw->GetBusy(), 0);
        EXPECT_FALSE(raw->IsConnected());
        // A closed phone answers at once, and stays idle.
        EXPECT_EQ(raw->Transmit(request.data(), request.size(), &reply, &size, arena), kBthNotConnected);
        EXPECT_EQ(raw->GetBusy(), 0);
        ble.onWrite = [this](uint64_t channel) { phone->OnWrite(channel); };
        phone8.reset();
    }
}

TEST_F(BthLinkTest, TheLogonStateReportIsTheNoticeOrInContainerListModeTheSessionList) {
    EXPECT_EQ(device->ReportSessions(), 0u);
    device->SetContainerListMode();
    EXPECT_EQ(device->ReportSessions(), 0u);
    const auto commands = phone->Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], Message(kBthLogonStateNotice, {}));
    EXPECT_EQ(commands[1], Message(kBthSessionList, {1, 0, 0x42}));
    // The hello announced the container-list mode only once it was set.
    EXPECT_EQ(phone->Seen().front(), kBthHello);
    device->Rebind(connection, u"Pixel");
    EXPECT_EQ(device->ReportSessions(), 0u);
    EXPECT_EQ(phone->Count(kBthHelloContainerList), 1u);
}

TEST_F(BthLinkTest, ThePhonesContainerListIsKeptAsTheImageThePhoneListPassesOn) {
    Bytes payload(18, 0x5A);
    WriteU16(payload.data() + 16, 1);
    for (const Bytes& part : {U32s({7}), Name("Sig"), Bytes {1, 1}, Name("anna@corp.example"), Bytes {0, 0}, Name("")}) {
        payload.insert(payload.end(), part.begin(), part.end());
    }
    const Bytes list = Message(0x3028, payload);
    EXPECT_EQ(device->GetContainerListMode(), 0u);
    ASSERT_EQ(device->UpdateContainerList(list.data(), list.size()), 0u);
    EXPECT_EQ(device->GetContainerListMode(), 1u);
    EXPECT_EQ(device->GetContainerImage(), list);
    // The list answers the container lookup without the phone.
    const Answer a = Send(Message(0x2003, Name("sig")));
    ASSERT_EQ(a.rc, 0u);
    EXPECT_EQ(a.payload, U32s({7}));
    EXPECT_EQ(phone->Commands().size(), 0u);
    // A list whose count says more than it holds is refused and clears the image.
    Bytes shortList = list;
    WriteU16(shortList.data() + MsgHeader::kSize + 16, 2);
    EXPECT_EQ(device->UpdateContainerList(shortList.data(), shortList.size()), Result::NteBadData);
    EXPECT_TRUE(device->GetContainerImage().empty());
}

// How long the worker sleeps: never past its next link check or an away option's due point,
// never longer than a cycle, and not at all once woken.
TEST_F(BthLinkTest, TheWorkerSleepsUntilTheNextCheckFallsDue) {
    const uint32_t start = tp.clock.GetTickCount();
    EXPECT_EQ(device->NextWait(), kBthCycleMilliseconds);
    tp.clock.SetTick(start + 2500);
    EXPECT_EQ(device->NextWait(), 500u);  // the present phone's link check every 3 s

    device->AddLogonOption(u"anna", u"CORP", -70, 10);
    tp.clock.SetTick(start + 3000);
    device->OfflineCheck();
    tp.clock.SetTick(start + 4000);
    device->OnSignalSample(-75);
    tp.clock.SetTick(start + 13500);
    device->OfflineCheck();
    EXPECT_EQ(device->NextWait(), 501u);  // the away mark falls due 10 s after it was set

    // A closed phone is checked every second.
    device->RemoveLogonOption(u"anna", u"CORP");
    device->Close();
    tp.threads.JoinAll();
    EXPECT_EQ(device->NextWait(), kBthLostCheckMilliseconds);
}

}  // namespace
}  // namespace corvane::test
