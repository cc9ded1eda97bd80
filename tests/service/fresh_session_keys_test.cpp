// Session keys and their padding come from the operating system's generator, never from the
// clock: through the service's own objects, two key exchanges of the stream channel and two
// hellos of a phone, all with the clock standing still, give four different session keys and
// four different paddings. A generator seeded from the tick count would give the same twice.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "channel/stream_request_handler.h"
#include "crypto/rsa.h"
#include "device/cdev_tovrel.h"
#include "device/device_hello.h"
#include "device/device_map.h"
#include "phone/device_session.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "support/phone_keys.h"
#include "support/test_platform.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// What a wrapped block carries once the peer's private key has opened it.
struct Opened {
    Bytes padding;
    Bytes key;
};

// 0x00 0x02, k - 27 non-zero padding bytes, 0x00, the 16-byte key, the 8-byte check block.
Opened Open(const TestKeyPair& peer, const uint8_t* wrapped, size_t k) {
    Bytes block(k);
    EXPECT_EQ(RsaPrivate(peer.handle, wrapped, static_cast<uint32_t>(k), block.data()), 0);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x02);
    EXPECT_EQ(block[k - 25], 0x00);
    return {Bytes(block.begin() + 2, block.end() - 25), Bytes(block.end() - 24, block.end() - 8)};
}

class FreshSessionKeysTest : public ::testing::Test {
protected:
    FreshSessionKeysTest() {
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        app.Config().g_strHostGuid = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
        // No worker of the phone's device may run: its sleeps would move the clock.
        tp.threads.failCreate = true;
    }
    ~FreshSessionKeysTest() override {
        objects.DeviceSession().TeardownConnection(connection);  // frees it
        objects.Devices().ForEach([](CDevTovrel& device) { device.RequestStop(); });
        tp.threads.JoinAll();
    }

    // A key exchange on a stream connection: the wrapped block of the reply.
    Opened StreamKeyExchange() {
        const TestKeyPair& peer = PhoneTestKey(1024);
        ReplyArena arena;
        uint8_t* request = arena.Allocate(MsgHeader::kSize + 2 + peer.publicDer.size() + 2);
        MsgHeader {0x1011, static_cast<uint16_t>(2 + peer.publicDer.size()), 0}.Encode(request);
        WriteU16(request + MsgHeader::kSize, 2);
        std::memcpy(request + MsgHeader::kSize + 2, peer.publicDer.data(), peer.publicDer.size());
        StreamConnectionState stream;
        const StreamReply reply = objects.StreamRequests().HandleRequest(stream, request, arena);
        const MsgHeader header = *MsgHeader::Decode(reply.data, reply.size);
        EXPECT_EQ(header.status, 0u);
        EXPECT_EQ(header.length, 2 + 128);
        if (header.length != 2 + 128) return {};
        return Open(peer, reply.data + MsgHeader::kSize + 2, 128);
    }

    // A phone's hello on its passive channel: the wrapped block of the reply.
    Opened Hello() {
        const TestKeyPair& peer = PhoneTestKey(1024);
        const Bytes payload = BuildDeviceHelloRequest("phone-1", "Pixel", "2.0", peer.publicDer.data(), peer.publicDer.size());
        Bytes message(MsgHeader::kSize + payload.size());
        MsgHeader {kHelloCode, static_cast<uint16_t>(payload.size()), 0}.Encode(message.data());
        std::memcpy(message.data() + MsgHeader::kSize, payload.data(), payload.size());
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        EXPECT_EQ(objects.DeviceSession().HandleDeviceRequest(*connection, message.data(), message.size(), arena, &reply,
                                                              &size),
                  0u);
        DeviceHelloReply parsed;
        if (reply == nullptr ||
            ParseDeviceHelloReply(reply + MsgHeader::kSize, size - MsgHeader::kSize, parsed) != 0 ||
            parsed.wrappedKeyLength != 128) {
            ADD_FAILURE() << "no wrapped key in the hello's reply";
            return {};
        }
        return Open(peer, parsed.wrappedKey, 128);
    }

    TestPlatform tp;
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};
    BleConnection* connection = new BleConnection;
};

TEST_F(FreshSessionKeysTest, KeyExchangesAndHellosOnAStoppedClockDrawDifferentKeysAndPadding) {
    const uint32_t tick = tp.clock.GetTickCount();
    const std::vector<Opened> opened = {StreamKeyExchange(), StreamKeyExchange(), Hello(), Hello()};
    ASSERT_EQ(tp.clock.GetTickCount(), tick) << "the clock must stand still between the exchanges";

    std::set<Bytes> keys, paddings;
    for (const Opened& o : opened) {
        ASSERT_EQ(o.key.size(), 16u);
        ASSERT_EQ(o.padding.size(), 128u - 27);
        keys.insert(o.key);
        paddings.insert(o.padding);
    }
    EXPECT_EQ(keys.size(), opened.size()) << "a session key came back";
    EXPECT_EQ(paddings.size(), opened.size()) << "a padding came back";
}

}  // namespace
}  // namespace corvane::test
