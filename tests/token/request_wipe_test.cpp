// What a token request leaves in the heap: PINs, a private key sent for import and the result of
// a private-key operation pass through the request's buffers (the received request, its
// decrypted copy, the token layer's blocks, the framed reply and the reply before encryption).
// The request's arena here takes its blocks from a heap that looks at every block when it is
// given back; none of the secrets may still be in one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "channel/stream_world.h"
#include "crypto/openssl_oracle.h"
#include "service/token_stream_requests.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The C heap, with a look at each block as it comes back: which of the secrets it still holds.
class CWatchingHeap final : public IArenaHeap {
public:
    void* Allocate(size_t size) override { return std::calloc(size, 1); }
    void Free(void* block, size_t size) override {
        const auto* bytes = static_cast<const uint8_t*>(block);
        for (const auto& [label, secret] : secrets) {
            if (std::search(bytes, bytes + size, secret.begin(), secret.end()) != bytes + size) {
                survivors.push_back(label);
            }
        }
        ++freed;
        std::free(block);
    }

    std::vector<std::pair<std::string, Bytes>> secrets;
    std::vector<std::string> survivors;
    int freed = 0;
};

Bytes Slice(const Bytes& bytes, size_t offset, size_t length) {
    if (bytes.size() < offset + length) {
        ADD_FAILURE() << "a number of " << bytes.size() << " bytes";
        return Bytes(1, 0);
    }
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

Bytes PinBytes(const char* pin) { return Bytes(pin, pin + std::strlen(pin)); }

// Plain and keyed connections: the secrets travel in the received request itself, or in its
// decrypted copy and the reply before encryption.
class RequestWipeTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        tokenWorld.MakeToken("alpha");
        tokenWorld.UseTestTokenModule();
        ASSERT_EQ(tokenWorld.tokens.Binding().InitP11(), 0u);
        slotId = tokenWorld.tokens.Binding().SlotAt(0).SlotId();
        TokenWorld::WaitForFirstListing(tokenWorld.tokens.Binding().SlotAt(0));
        tokenWorld.tokens.Requests().GetLogonComponentState = [] { return uint16_t {0}; };
        tokenWorld.tokens.Requests().RecordCardSignIn = [](const TokenSignIn&) {};
        stream.handler.SetTokenRequests(&adapter);
        if (GetParam()) stream.Key();
    }

    // One token operation through the stream channel as a connection thread runs it: the request
    // received into the arena, handled, the reply taken (decrypted when keyed), the arena released.
    StreamAnswer Operation(uint16_t subOpcode, const Bytes& data) {
        const Bytes payload = TokenOperation(slotId, subOpcode, data);
        const Bytes body = GetParam() ? StreamWorld::Encrypt(payload) : payload;
        uint8_t* request = arena.Allocate(MsgHeader::kSize + body.size() + 2);
        MsgHeader {0x7011, static_cast<uint16_t>(body.size()), 0}.Encode(request);
        std::memcpy(request + MsgHeader::kSize, body.data(), body.size());
        const StreamReply reply = stream.handler.HandleRequest(stream.connection, request, arena);
        StreamAnswer answer {*MsgHeader::Decode(reply.data, reply.size),
                             Bytes(reply.data + MsgHeader::kSize, reply.data + reply.size)};
        arena.Release();
        if (GetParam() && !answer.payload.empty()) answer.payload = StreamWorld::Decrypt(answer.payload);
        return answer;
    }
    uint32_t CreateContainer(const char* name) {
        const StreamAnswer created = Operation(TokenRequest::CreateContainer, Text(name));
        EXPECT_EQ(created.header.status, 0u);
        return created.payload.size() == 4 ? ReadU32(created.payload.data()) : 0;
    }

    TokenWorld tokenWorld;
    StreamWorld stream;
    CTokenStreamRequests adapter {tokenWorld.tokens.Requests()};
    CWatchingHeap heap;
    ReplyArena arena {&heap};
    uint32_t slotId = 0;
};

TEST_P(RequestWipeTest, NoPinSurvivesInAFreedBuffer) {
    const char* wrongPin = "Wrong#3141592653";
    const char* changedPin = "Changed#2718281828";
    const char* unblockedPin = "Unblocked#1618033988";
    const char* initialisedPin = "Initialised#1414213562";
    heap.secrets = {{"wrong PIN", PinBytes(wrongPin)},
                    {"changed PIN", PinBytes(changedPin)},
                    {"unblocked PIN", PinBytes(unblockedPin)},
                    {"initialised PIN", PinBytes(initialisedPin)}};

    const StreamAnswer wrong = Operation(TokenRequest::Login, Text(wrongPin));
    ASSERT_EQ(wrong.header.status, 0u);
    ASSERT_EQ(wrong.payload.size(), 4u);
    EXPECT_EQ(wrong.payload[0], 0) << "a wrong PIN is answered, not refused";
    EXPECT_EQ(Operation(TokenRequest::Login, Text(kUserPin)).header.status, 0u);
    EXPECT_EQ(Operation(TokenRequest::ChangePin, Concat({Text(kUserPin), Text(changedPin)})).header.status, 0u);
    EXPECT_EQ(Operation(TokenRequest::InitTokenWithPins, Concat({Text(kSoPin), Text(initialisedPin)})).header.status,
              0u);
    // Whether the library lets the user log in while the security officer is, is its business;
    // the PINs go through the request's buffers either way.
    Operation(TokenRequest::UnblockPin, Concat({Text(kSoPin), Text(unblockedPin)}));

    EXPECT_GT(heap.freed, 0);
    EXPECT_TRUE(heap.survivors.empty()) << "still in a freed buffer: " << ::testing::PrintToString(heap.survivors);
}

TEST_P(RequestWipeTest, NoPrivateKeyOrPrivateResultSurvivesInAFreedBuffer) {
    ASSERT_EQ(Operation(TokenRequest::Login, Text(kUserPin)).header.status, 0u);
    const uint32_t container = CreateContainer("Alpha");
    EvpKey key = OpenSslGenerateRsa(1024);
    const Bytes der = OpenSslPrivateDer(key.get());
    Bytes block(128);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 29 + 7);
    block[0] = 0x01;
    const Bytes result = OpenSslRawRsa(key.get(), true, block).value();
    heap.secrets = {{"private exponent", Slice(OpenSslKeyNumber(key.get(), "d"), 32, 32)},
                    {"prime", Slice(OpenSslKeyNumber(key.get(), "rsa-factor1"), 16, 32)},
                    {"private result", Slice(result, 48, 32)}};

    ASSERT_EQ(Operation(TokenRequest::ImportKeyPair, Concat({U32(container), U32(1), der})).header.status, 0u);
    const StreamAnswer raw = Operation(TokenRequest::RsaPrivate, Concat({U32(container), U32(1), block}));
    ASSERT_EQ(raw.header.status, 0u);
    EXPECT_EQ(raw.payload, result);

    EXPECT_GT(heap.freed, 0);
    EXPECT_TRUE(heap.survivors.empty()) << "still in a freed buffer: " << ::testing::PrintToString(heap.survivors);
}

INSTANTIATE_TEST_SUITE_P(Connection, RequestWipeTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Keyed" : "Plain"); });

}  // namespace
}  // namespace corvane::test
