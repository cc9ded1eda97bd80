// The requests of a phone's passive channel: the hello with its checks and key, the keyed
// requests, the phone device binding and the teardown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/session_key.h"
#include "device/device_map.h"
#include "phone/device_hello.h"
#include "phone/device_session.h"
#include "service/ble_device_requests.h"
#include "support/fake_ble_library.h"
#include "support/phone_keys.h"
#include "support/test_platform.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Answer {
    uint32_t rc = 0;
    MsgHeader header;
    Bytes payload;
};

Bytes Message(uint16_t code, const Bytes& payload) {
    Bytes m(MsgHeader::kSize + payload.size());
    MsgHeader {code, static_cast<uint16_t>(payload.size()), 0}.Encode(m.data());
    std::copy(payload.begin(), payload.end(), m.begin() + MsgHeader::kSize);
    return m;
}

Bytes HelloPayload(const char* id, const char* name, const Bytes& key) {
    return BuildDeviceHelloRequest(id, name, "2.0", key.data(), key.size());
}

class DeviceSessionTest : public ::testing::Test {
protected:
    DeviceSessionTest() {
        OpenServiceMutexes(tp.Get(), config);
        config.g_strHostGuid = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
        config.g_strComputerName = u"DESK7";
        config.g_strDnsDomain = u"corp.example";
        session = std::make_unique<CDeviceSession>(BthDeviceEnv {tp.Get(), config, workerHost, &ble});
        // The dispatch of the BLE service: the phone with that handle takes the sample.
        session->Hooks().OnBleSignal = [this](uint64_t device, int16_t rssi) {
            devices.ForEachUntil([&](CDevTovrel& d) {
                auto* phone = dynamic_cast<CDevBth*>(&d);
                if (!phone || phone->GetBleDevice() != device) return false;
                phone->OnSignalSample(rssi);
                return true;
            });
        };
        session->Hooks().GetPublished = [](std::u16string& user, uint16_t& state) {
            user = u"alice";
            state = 1;
        };
    }
    ~DeviceSessionTest() override {
        for (BleConnection* c : connections) session->TeardownConnection(c);
        devices.ForEach([](CDevTovrel& d) { d.RequestStop(); });
        tp.threads.JoinAll();
    }

    BleConnection& NewConnection() {
        auto* c = new BleConnection;
        c->m_hDevice = ble.AddPhone();
        connections.push_back(c);
        return *c;
    }
    void Teardown(BleConnection& c) {
        connections.erase(std::find(connections.begin(), connections.end(), &c));
        session->TeardownConnection(&c);
    }

    Answer Send(BleConnection& c, const Bytes& message) {
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        Answer a;
        a.rc = session->HandleDeviceRequest(c, message.data(), message.size(), arena, &reply, &size);
        if (a.rc == 0) {
            a.header = *MsgHeader::Decode(reply, size);
            a.payload.assign(reply + MsgHeader::kSize, reply + size);
        }
        return a;
    }

    // A successful hello; returns the phone's copy of the session cipher.
    CipherHandle Hello(BleConnection& c, const char* id, uint16_t code = kHelloCode, uint32_t bits = 1024) {
        const TestKeyPair& key = PhoneTestKey(bits);
        const Answer a = Send(c, Message(code, HelloPayload(id, "Pixel", key.publicDer)));
        EXPECT_EQ(a.rc, 0u);
        DeviceHelloReply reply;
        EXPECT_EQ(ParseDeviceHelloReply(a.payload.data(), a.payload.size(), reply), 0u);
        CipherHandle cipher = nullptr;
        EXPECT_EQ(UnwrapSessionKey(key.handle, reply.wrappedKey, reply.wrappedKeyLength, &cipher),
                  SessionKeyStatus::Ok);
        ciphers.push_back(cipher);
        return cipher;
    }

    // A keyed request and its opened reply.
    Answer Keyed(BleConnection& c, CipherHandle cipher, uint16_t code, const Bytes& plain) {
        Bytes sealed(plain.size() + kSessionPaddingMax);
        size_t n = 0;
        if (!plain.empty()) SessionEncrypt(cipher, plain.data(), plain.size(), sealed.data(), &n);
        sealed.resize(n);
        Answer a = Send(c, Message(code, sealed));
        if (a.rc == 0 && !a.payload.empty()) {
            Bytes opened(a.payload.size());
            size_t m = 0;
            EXPECT_EQ(SessionDecrypt(cipher, a.payload.data(), a.payload.size(), opened.data(), &m),
                      SessionKeyStatus::Ok);
            opened.resize(m);
            a.payload = opened;
        }
        return a;
    }

    CDevBth* Device(const char16_t* id) {
        CDevTovrel* d = devices.Find(id);
        if (d) DeviceMap::Release(d);
        return dynamic_cast<CDevBth*>(d);
    }

    TestPlatform tp;
    Configuration config;
    DeviceMap devices {config};
    std::atomic<int32_t> workers {0};
    DeviceWorkerHost workerHost {tp.threads, devices, workers};
    FakeBleLibrary ble;
    std::unique_ptr<CDeviceSession> session;
    std::vector<BleConnection*> connections;
    std::vector<CipherHandle> ciphers;

public:
    void TearDown() override {
        for (CipherHandle c : ciphers) CipherDestroy(c);
    }
};

TEST_F(DeviceSessionTest, HelloAnswersWithHostIdentityAndAKeyThePhoneCanUnwrap) {
    BleConnection& c = NewConnection();
    const TestKeyPair& key = PhoneTestKey(1024);
    const Answer a = Send(c, Message(kHelloCode, HelloPayload("phone-1", "Pixel", key.publicDer)));
    ASSERT_EQ(a.rc, 0u);
    EXPECT_EQ(a.header.code, 0x8101);
    DeviceHelloReply reply;
    ASSERT_EQ(ParseDeviceHelloReply(a.payload.data(), a.payload.size(), reply), 0u);
    EXPECT_EQ(reply.hostGuid, "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(reply.computerName, "DESK7");
    EXPECT_EQ(reply.dnsDomain, "corp.example");
    EXPECT_EQ(reply.wrappedKeyLength, 128);
    EXPECT_EQ(a.payload.size(), 50u + 6 + 13 + 128);
    CipherHandle cipher = nullptr;
    ASSERT_EQ(UnwrapSessionKey(key.handle, reply.wrappedKey, 128, &cipher), SessionKeyStatus::Ok);
    CipherDestroy(cipher);

    EXPECT_EQ(c.m_nSecureState, SecureState::Keyed);
    EXPECT_EQ(c.m_strDeviceId, u"phone-1");
    EXPECT_EQ(c.m_strDeviceName, u"Pixel");
    CDevBth* device = Device(u"phone-1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(c.m_pDevice, device);
    EXPECT_TRUE(device->IsConnected());
    EXPECT_EQ(device->GetName(), u"Pixel");
    EXPECT_EQ(ble.signalDevices, std::vector<uint64_t> {c.m_hDevice});
}

TEST_F(DeviceSessionTest, MalformedHellosAreRejected) {
    const Bytes key = PhoneTestKey(1024).publicDer;
    const Bytes good = HelloPayload("phone-1", "Pixel", key);
    auto with = [&](size_t at, uint16_t value) {
        Bytes p = good;
        WriteU16(p.data() + at, value);
        return p;
    };
    Bytes fullId = good;
    std::memset(fullId.data() + 2, 'x', 40);
    Bytes emptyId = good;
    std::memset(emptyId.data() + 2, 0, 40);
    Bytes longer = good;
    longer.push_back(0);
    struct Case {
        const char* label;
        Bytes payload;
        uint32_t expected;
    } cases[] = {
        {"58 bytes", Bytes(good.begin(), good.begin() + 58), Result::NteBadData},
        {"version 1", with(0, 1), 0x8009000A},
        {"ID without NUL", fullId, Result::NteBadData},
        {"empty ID", emptyId, Result::NteBadData},
        {"text B inside text A", with(44, 2), Result::NteBadData},
        {"text A inside the key", with(42, 12), Result::NteBadData},
        {"offset beyond the payload", with(42, 0xFFF0), Result::NteBadData},
        {"key length past the end", with(48, static_cast<uint16_t>(key.size() + 1)), Result::NteBadData},
        {"payload longer than its items", longer, Result::NteBadData},
        {"key that is no DER", with(46, 0), Result::NteBadData},
    };
    for (const Case& k : cases) {
        BleConnection& c = NewConnection();
        EXPECT_EQ(Send(c, Message(kHelloCode, k.payload)).rc, k.expected) << k.label;
        EXPECT_EQ(c.m_nSecureState, SecureState::Plain) << k.label;
    }
    EXPECT_TRUE(devices.IsEmpty());
}

TEST_F(DeviceSessionTest, RequestsBeforeAHelloAreRefused) {
    BleConnection& c = NewConnection();
    EXPECT_EQ(Send(c, Message(DeviceRequest::SessionTime, {})).rc, kNtePerm);
    EXPECT_EQ(Send(c, Message(DeviceRequest::Logon, {1, 2, 3})).rc, kNtePerm);
}

TEST_F(DeviceSessionTest, ShortKeyFailsAndLeavesTheConnectionUnkeyed) {
    BleConnection& c = NewConnection();
    Hello(c, "phone-1");
    const Answer a = Send(c, Message(kHelloCode, HelloPayload("phone-1", "Pixel", PhoneTestKey(256).publicDer)));
    EXPECT_EQ(a.rc, Result::NteFail);
    EXPECT_EQ(c.m_nSecureState, SecureState::Plain);
    EXPECT_EQ(Send(c, Message(DeviceRequest::Logon, {})).rc, kNtePerm);
}

// A phone's key with a long public exponent is refused before any RSA operation, as a key too
// short to wrap is: one public operation under it would hold the channel's thread for ages.
TEST_F(DeviceSessionTest, OversizedExponentIsRefusedAtOnce) {
    BleConnection& c = NewConnection();
    Hello(c, "phone-1");
    const Answer a = Send(c, Message(kHelloCode, HelloPayload("phone-1", "Pixel", RawPublicKeyDer(128, 4096))));
    EXPECT_EQ(a.rc, Result::NteFail);
    EXPECT_EQ(c.m_nSecureState, SecureState::Plain);
    EXPECT_EQ(Send(c, Message(DeviceRequest::Logon, {})).rc, kNtePerm);
}

TEST_F(DeviceSessionTest, SecondHelloOfTheSamePhoneRebindsItsDevice) {
    BleConnection& first = NewConnection();
    const uint64_t firstHandle = first.m_hDevice;
    Hello(first, "phone-1");
    CDevBth* device = Device(u"phone-1");
    device->SetFirstFlag(3);
    BleConnection& second = NewConnection();
    Hello(second, "phone-1", kHelloContainerListCode);
    EXPECT_EQ(Device(u"phone-1"), device);
    EXPECT_EQ(first.m_pDevice, nullptr);
    EXPECT_EQ(second.m_pDevice, device);
    EXPECT_EQ(device->GetBleDevice(), second.m_hDevice);
    EXPECT_EQ(device->GetFirstFlag(), 0);
    EXPECT_EQ(device->GetContainerListMode(), 1u);
    // The first connection ends: its device has moved on, and its phone handle, which the rebind
    // gave back, is closed while the second one stays open.
    Teardown(first);
    EXPECT_TRUE(device->IsConnected());
    EXPECT_TRUE(ble.WaitClosed(firstHandle));
    EXPECT_FALSE(ble.WasClosed(second.m_hDevice));
}

// Waits (real time, at most 5 s) until the device has no closing thread left.
bool Settled(CDevBth& device) {
    for (int i = 0; i < 500 && device.GetBusy() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return device.GetBusy() == 0;
}

// A phone that reconnects: its old handle is closed once, by the rebind that gives the device
// the new one, and neither the old connection's teardown nor the device's close closes it again.
TEST_F(DeviceSessionTest, OnAReconnectEachHandleIsClosedExactlyOnce) {
    BleConnection& first = NewConnection();
    const uint64_t firstHandle = first.m_hDevice;
    Hello(first, "phone-1");
    CDevTovrel* held = devices.Find(u"phone-1");
    ASSERT_NE(held, nullptr);
    auto* device = dynamic_cast<CDevBth*>(held);
    BleConnection& second = NewConnection();
    const uint64_t secondHandle = second.m_hDevice;
    Hello(second, "phone-1");

    Teardown(first);
    ASSERT_TRUE(ble.WaitClosed(firstHandle));
    ASSERT_TRUE(Settled(*device));
    EXPECT_EQ(ble.CloseCount(firstHandle), 1u);
    EXPECT_EQ(ble.CloseCount(secondHandle), 0u);

    Teardown(second);
    ASSERT_TRUE(ble.WaitClosed(secondHandle));
    ASSERT_TRUE(Settled(*device));
    EXPECT_EQ(ble.CloseCount(secondHandle), 1u);
    EXPECT_EQ(ble.CloseCount(firstHandle), 1u);
    DeviceMap::Release(held);
}

// Two connections of one phone say hello at the same moment (on a new device, then on the
// device they share): the device ends up bound to exactly one of them, that one's handle is
// the device's, and no handle is closed twice.
TEST_F(DeviceSessionTest, TwoHellosOfOnePhoneAtOnceBindTheDeviceToOneConnection) {
    const Bytes hello = Message(kHelloCode, HelloPayload("phone-1", "Pixel", PhoneTestKey(1024).publicDer));
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        BleConnection& a = NewConnection();
        BleConnection& b = NewConnection();
        std::atomic<int> ready {0};
        auto say = [&](BleConnection* c, uint32_t* rc) {
            ++ready;
            while (ready.load() < 2) {
            }
            *rc = Send(*c, hello).rc;
        };
        uint32_t rcA = 1, rcB = 1;
        std::thread ta(say, &a, &rcA);
        std::thread tb(say, &b, &rcB);
        ta.join();
        tb.join();
        ASSERT_EQ(rcA, 0u);
        ASSERT_EQ(rcB, 0u);
        EXPECT_EQ(devices.Count(), 1u);
        CDevTovrel* held = devices.Find(u"phone-1");
        ASSERT_NE(held, nullptr);
        auto* device = dynamic_cast<CDevBth*>(held);
        const bool aBound = a.m_pDevice == device;
        const bool bBound = b.m_pDevice == device;
        EXPECT_NE(aBound, bBound);
        BleConnection& bound = aBound ? a : b;
        BleConnection& other = aBound ? b : a;
        EXPECT_EQ(other.m_pDevice, nullptr);
        EXPECT_EQ(device->GetConnection(), &bound);
        EXPECT_EQ(device->GetBleDevice(), bound.m_hDevice);

        const uint64_t handles[] = {bound.m_hDevice, other.m_hDevice};
        Teardown(a);
        Teardown(b);
        for (uint64_t handle : handles) {
            ASSERT_TRUE(ble.WaitClosed(handle));
            ASSERT_TRUE(Settled(*device));
            EXPECT_EQ(ble.CloseCount(handle), 1u);
        }
        DeviceMap::Release(held);
    }
}

TEST_F(DeviceSessionTest, SignalStatisticsFollowTheSamples) {
    BleConnection& c = NewConnection();
    CipherHandle k = Hello(c, "phone-1");
    auto op = [&](uint32_t operation) {
        Bytes p(4);
        WriteU32(p.data(), operation);
        return Keyed(c, k, DeviceRequest::SignalStatistics, p);
    };
    Answer never = op(3);
    ASSERT_EQ(never.rc, 0u);
    EXPECT_EQ(never.payload, Bytes(8, 0));
    EXPECT_EQ(op(1).rc, 0u);
    for (int16_t rssi : {-60, -71, -50}) ble.Signal(c.m_hDevice, rssi);
    const Answer read = op(3);
    ASSERT_EQ(read.payload.size(), 8u);
    EXPECT_EQ(ReadU16(read.payload.data()), 3);
    EXPECT_EQ(static_cast<int16_t>(ReadU16(read.payload.data() + 2)), -60);
    EXPECT_EQ(static_cast<int16_t>(ReadU16(read.payload.data() + 4)), -50);
    EXPECT_EQ(static_cast<int16_t>(ReadU16(read.payload.data() + 6)), -71);
    EXPECT_EQ(op(7).rc, Result::NteBadData);
    EXPECT_EQ(Keyed(c, k, DeviceRequest::SignalStatistics, {1, 0, 0}).rc, Result::NteBadLen);
}

TEST_F(DeviceSessionTest, PhoneStatusStoresFlagsAndAnswersStateUserAndDomains) {
    tp.sessions.trusts = {{u"CORP", u"corp.example"}, {u"OLD", u""}, {u"EU", u"eu.corp.example"}};
    BleConnection& c = NewConnection();
    CipherHandle k = Hello(c, "phone-1");
    int resets = 0;
    session->Hooks().ResetCacheV1 = [&](CDevBth&) { ++resets; };
    const Answer none = Keyed(c, k, DeviceRequest::PhoneStatus, {0, 0});
    ASSERT_EQ(none.rc, 0u);
    const std::string expected = std::string("\x01\x00" "alice\0DESK7\0corp.example\0eu.corp.example\0", 43);
    EXPECT_EQ(std::string(none.payload.begin(), none.payload.end()), expected);
    EXPECT_EQ(Device(u"phone-1")->GetFirstFlag(), 0);
    Keyed(c, k, DeviceRequest::PhoneStatus, {5, 6});
    EXPECT_EQ(resets, 0);
    Keyed(c, k, DeviceRequest::PhoneStatus, {7, 0});
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(Device(u"phone-1")->GetFirstFlag(), 7);
    EXPECT_EQ(Device(u"phone-1")->GetSecondFlag(), 6);
    EXPECT_EQ(Keyed(c, k, DeviceRequest::PhoneStatus, {1}).rc, Result::NteBadLen);
}

TEST_F(DeviceSessionTest, DomainListIsTheComputerNameAloneWhenTrustsFail) {
    tp.sessions.trusts = {{u"CORP", u"corp.example"}};
    tp.sessions.trustError = 1355;
    ReplyArena arena;
    uint8_t* list = nullptr;
    ASSERT_EQ(session->BuildDomainList(list, arena), 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(list), 6), std::string("DESK7\0", 6));
}

TEST_F(DeviceSessionTest, SessionListRefusesAPayloadAndOtherCodesAreNotSupported) {
    BleConnection& c = NewConnection();
    CipherHandle k = Hello(c, "phone-1");
    EXPECT_EQ(Keyed(c, k, DeviceRequest::SessionList, {1}).rc, Result::NteBadLen);
    session->Hooks().BuildSessionList = [](uint8_t*& m, size_t& size, ReplyArena& arena) {
        m = arena.Allocate(10);
        MsgHeader {0x3105, 2, 0}.Encode(m);
        m[8] = 'o';
        m[9] = 'k';
        size = 10;
        return 0u;
    };
    const Answer list = Keyed(c, k, DeviceRequest::SessionList, {});
    ASSERT_EQ(list.rc, 0u);
    EXPECT_EQ(list.header.code, 0xB027);
    EXPECT_EQ(list.payload, (Bytes {'o', 'k'}));
    EXPECT_EQ(Keyed(c, k, 0x3030, {}).rc, Result::NteNotSupported);
    EXPECT_EQ(Keyed(c, k, DeviceRequest::SessionControl, {1, 2}).rc, Result::NteNotSupported);
}

TEST_F(DeviceSessionTest, LogonIsRelayedWithTheDeviceIdAndTheAnswerGoesBackUnderTheRequestCode) {
    BleConnection& c = NewConnection();
    CipherHandle k = Hello(c, "phone-1");
    std::vector<std::u16string> ids;
    std::vector<Bytes> relayed;
    uint32_t relayResult = 0;
    session->Hooks().RelayLogonRequest = [&](std::u16string_view id, const uint8_t* request, size_t size,
                                             ReplyArena& arena, uint8_t** reply, size_t* replySize) {
        ids.emplace_back(id);
        relayed.emplace_back(request, request + size);
        if (relayResult) return relayResult;
        uint8_t* m = arena.Allocate(11);
        MsgHeader {0x9999, 3, 0x20000022}.Encode(m);
        std::memcpy(m + 8, "yes", 3);
        *reply = m;
        *replySize = 11;
        return 0u;
    };
    const Bytes request = {1, 0, 0, 0, 5, 0, 0, 0, 'b', 'o', 'b', 0, 'C', 0, 0};
    for (uint16_t code : {DeviceRequest::Logon, DeviceRequest::Unlock, DeviceRequest::Relogon}) {
        const Answer a = Keyed(c, k, code, request);
        ASSERT_EQ(a.rc, 0u);
        EXPECT_EQ(a.header.code, code | 0x8000);
        EXPECT_EQ(a.header.status, 0x20000022u);
        EXPECT_EQ(a.payload, (Bytes {'y', 'e', 's'}));
        EXPECT_EQ(ids.back(), u"phone-1");
        EXPECT_EQ(relayed.back(), Message(code, request));
    }
    relayResult = 0x20000005;
    EXPECT_EQ(Keyed(c, k, DeviceRequest::Logon, request).rc, 0x20000005u);
}

TEST_F(DeviceSessionTest, TeardownClosesTheBoundDeviceOrTheBarePhone) {
    BleConnection& bound = NewConnection();
    Hello(bound, "phone-1");
    // The test's own reference: without a link the device's worker may end and release it.
    CDevTovrel* held = devices.Find(u"phone-1");
    ASSERT_NE(held, nullptr);
    auto* device = dynamic_cast<CDevBth*>(held);
    const uint64_t handle = bound.m_hDevice;
    Teardown(bound);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_EQ(device->GetConnection(), nullptr);
    DeviceMap::Release(held);

    BleConnection& bare = NewConnection();
    const uint64_t bareHandle = bare.m_hDevice;
    Teardown(bare);
    EXPECT_TRUE(ble.WasClosed(bareHandle));
    EXPECT_TRUE(ble.WaitClosed(handle));  // on the device's closing thread
}

// The stream channel's requests on the bound phones. The phone list carries each connected phone
// once, with its name in the string area, its flag bytes, link kind and last signal sample, and
// in container-list mode the phone's last container list in the string area; a closed phone
// leaves it. A session report or a token command for a phone whose active channel has ended, and
// any request for an unknown id, answer 1167; a restart request reaches the radio monitor's flag.
TEST_F(DeviceSessionTest, StreamDeviceRequestsSeeTheConnectedPhones) {
    std::atomic<int32_t> stop {0}, radioStopped {1}, restart {0}, active {0};
    CBleService service(tp.Get(), config, devices, BleAppState {stop, radioStopped, restart, active});
    CBleDeviceRequests requests(devices, service);

    BleConnection& first = NewConnection();
    CipherHandle firstKey = Hello(first, "phone-1");
    BleConnection& second = NewConnection();
    Hello(second, "phone-2", kHelloContainerListCode);
    BleConnection& third = NewConnection();
    Hello(third, "phone-3");
    ASSERT_EQ(Keyed(first, firstKey, 0x3101, {7, 9}).rc, 0u);
    // The second phone's container list: one container, handle 7, named "Sig".
    Bytes listPayload(18, 0x5A);
    WriteU16(listPayload.data() + 16, 1);
    for (const Bytes& part : {Bytes {7, 0, 0, 0, 'S', 'i', 'g', 0}, Bytes {1, 0, 0}, Bytes {0, 0, 0}}) {
        listPayload.insert(listPayload.end(), part.begin(), part.end());
    }
    const Bytes list = Message(0x3028, listPayload);
    ASSERT_EQ(Device(u"phone-2")->UpdateContainerList(list.data(), list.size()), 0u);
    session->Hooks().OnBleSignal(first.m_hDevice, -61);
    ASSERT_EQ(requests.CloseDevice(u"phone-3"), 0u);

    ReplyArena arena;
    uint8_t* payload = nullptr;
    size_t size = 0;
    ASSERT_EQ(requests.ListPhones(arena, payload, size), 0u);
    ASSERT_EQ(ReadU16(payload), 2);
    ASSERT_EQ(size, 2u + 2 * kPhoneRecordSize + 2 * sizeof "Pixel" + list.size());
    const uint8_t* strings = payload + 2 + 2 * kPhoneRecordSize;
    std::map<std::string, const uint8_t*> records;
    for (size_t i = 0; i < 2; ++i) {
        const uint8_t* record = payload + 2 + i * kPhoneRecordSize;
        records[std::string(reinterpret_cast<const char*>(record))] = record;
        EXPECT_STREQ(reinterpret_cast<const char*>(strings + ReadU16(record + 44)), "Pixel");
        EXPECT_EQ(record[56], 2);  // Bluetooth LE
    }
    ASSERT_EQ(records.size(), 2u);
    const uint8_t* one = records.at("phone-1");
    EXPECT_EQ(one[46], 7);
    EXPECT_EQ(one[47], 9);
    EXPECT_EQ(ReadU16(one + 48), 0);  // not in container-list mode
    EXPECT_EQ(one[57], 1);
    EXPECT_EQ(static_cast<int16_t>(ReadU16(one + 58)), -61);
    const uint8_t* two = records.at("phone-2");
    EXPECT_EQ(two[46], 0);
    // The list image follows its phone's name in the string area.
    const size_t image = ReadU16(two + 48);
    EXPECT_EQ(image, ReadU16(two + 44) + sizeof "Pixel");
    ASSERT_EQ(ReadU16(two + 50), list.size());
    ASSERT_LE(2 + 2 * kPhoneRecordSize + image + list.size(), size);
    EXPECT_EQ(Bytes(strings + image, strings + image + list.size()), list);
    EXPECT_EQ(two[57], 0);

    // The phones' active channels end: nothing reaches them any more.
    ble.CloseChannel(first.m_hDevice + 2);
    ble.CloseChannel(second.m_hDevice + 2);
    const Bytes inner = Message(0x7001, {});
    uint8_t* reply = nullptr;
    size_t replySize = 0;
    const struct {
        const char* what;
        uint32_t rc;
    } unreachable[] = {
        {"close of an unknown id", requests.CloseDevice(u"nobody")},
        {"session report on a closed active channel", requests.ReportDeviceSessions(u"phone-1")},
        {"session report for an unknown id", requests.ReportDeviceSessions(u"nobody")},
        {"token command on a closed active channel",
         requests.TransmitToDevice(u"phone-2", inner.data(), inner.size(), arena, reply, replySize)},
        {"token command for an unknown id",
         requests.TransmitToDevice(u"nobody", inner.data(), inner.size(), arena, reply, replySize)},
    };
    for (const auto& c : unreachable) EXPECT_EQ(c.rc, kDeviceNotFound) << c.what;
    EXPECT_EQ(replySize, 0u);

    EXPECT_EQ(requests.RequestBleRestart(), 0u);
    EXPECT_EQ(restart.load(), 1);
}

}  // namespace
}  // namespace corvane::test
