// Tokens pulled out and put back while requests run on several threads (run under TSan too):
// requests fail cleanly while the token is away and are served again once it is back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "token/p11_error.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

TEST(TokenChurn, RemovalDuringRequestLoopsGivesErrorsAndReinsertionServesAgain) {
    TokenWorld world;
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    CTokenRequests& requests = world.tokens.Requests();
    ASSERT_EQ(world.tokens.Binding().InitP11(), 0u);
    const uint32_t slotId = world.tokens.Binding().SlotAt(0).SlotId();

    auto send = [&](uint16_t subOpcode, const std::vector<uint8_t>& data, std::vector<uint8_t>* out = nullptr) {
        std::vector<uint8_t> request = TokenOperation(slotId, subOpcode, data);
        ReplyArena arena;
        TokenReply reply;
        const uint32_t status = requests.HandleTokenOperation(request.data(), request.size(), arena, reply);
        if (out) out->assign(reply.pPayload, reply.pPayload + reply.wLength);
        return status;
    };
    std::vector<uint8_t> payload;
    ASSERT_EQ(send(TokenRequest::Login, Text(kUserPin), &payload), 0u);
    ASSERT_EQ(send(TokenRequest::CreateContainer, Text("Alpha"), &payload), 0u);
    uint32_t handle = ReadU32(payload.data());
    ASSERT_EQ(send(TokenRequest::GenerateKeyPair, Concat({U32(handle), U32(1), U32(1024), U32(65537)})), 0u);

    std::atomic<bool> stop {false};
    std::atomic<int> served {0};
    std::atomic<int> failed {0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
        clients.emplace_back([&, t] {
            std::vector<uint8_t> block(128, 0x21);
            block[0] = 0;
            while (!stop) {
                uint32_t status = 0;
                std::vector<uint8_t> out;
                if (t == 0) {
                    status = send(TokenRequest::RsaPrivate, Concat({U32(handle), U32(1), block}));
                } else if (t == 1) {
                    status = send(TokenRequest::GetContainerByIndex, U32(0), &out);
                } else {
                    uint8_t id[4];
                    WriteU32(id, slotId);
                    ReplyArena arena;
                    TokenReply reply;
                    status = requests.HandleSlotState(id, 4, arena, reply);
                }
                (status == 0 ? served : failed)++;
            }
        });
    }
    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        world.SetPresent(slotId, round % 2 != 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stop = true;
    for (auto& client : clients) client.join();
    EXPECT_GT(served.load(), 0);
    EXPECT_GT(failed.load(), 0);

    // Back in: the token is served again once its arrival has been handled. Removal logged the
    // user out, and the CSP looks its container up anew; a request that still met a handle from
    // before the removal failed cleanly, and the next one is served.
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return world.tokens.Binding().SlotAt(0).TokenPresent(); }));
    uint32_t status = 1;
    for (int attempt = 0; attempt < 20 && status != 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt * 10));
        if (send(TokenRequest::Login, Text(kUserPin), &payload) != 0 || payload.at(0) != 1) continue;
        if (send(TokenRequest::FindContainerByName, Text("Alpha"), &payload) != 0) continue;
        handle = ReadU32(payload.data());
        std::vector<uint8_t> block(128, 0x33);
        block[0] = 0;
        status = send(TokenRequest::RsaPrivate, Concat({U32(handle), U32(1), block}));
    }
    EXPECT_EQ(status, 0u);
}

}  // namespace
}  // namespace corvane::test
