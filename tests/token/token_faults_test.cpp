// The token layer against a library that misbehaves: errors from any call, short buffers, absurd
// lengths, slot lists that grow past the table or shrink, tokens that vanish mid-operation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_pkcs11.h"
#include "support/test_platform.h"
#include "token/p11_error.h"
#include "token/token_access.h"
#include "token/token_payload.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

class TokenFaultsTest : public ::testing::Test {
protected:
    TokenFaultsTest() {
        platform.clock.onSleep = [](uint32_t) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
        platform.Get().libraries = &fake.Loader();
        platform.registry.CreateKey(u"SOFTWARE\\Tovrel");
        RegSetString(platform.registry, u"SOFTWARE\\Tovrel", u"LibPkcs11", u"fake.so");
    }
    ~TokenFaultsTest() override {
        tokens.Binding().FinP11();
        platform.threads.JoinAll();
    }
    P11Slot& Slot0() { return tokens.Binding().SlotAt(0); }
    uint32_t Operation(uint16_t subOpcode, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> request = BuildTokenOperation(1, subOpcode, data.data(), data.size());
        arena.Release();
        return tokens.Requests().HandleTokenOperation(request.data(), request.size(), arena, reply);
    }
    static std::vector<uint8_t> Pair(uint32_t handle, uint32_t keySpec, size_t extra = 0) {
        std::vector<uint8_t> out(8 + extra, 0);
        WriteU32(out.data(), handle);
        WriteU32(out.data() + 4, keySpec);
        return out;
    }

    FakePkcs11 fake;
    TestPlatform platform;
    CTokenAccess tokens {platform.Get()};
    ReplyArena arena;
    TokenReply reply;
};

TEST_F(TokenFaultsTest, FailingSlotListKeepsTheBindingDown) {
    fake.Fail("C_GetSlotList", CKR_DEVICE_ERROR, 1);
    EXPECT_EQ(tokens.Binding().InitP11(), TokenError::NteFail);
    EXPECT_FALSE(tokens.Binding().IsInitialised());
    // Retried on the next refresh.
    EXPECT_EQ(tokens.Binding().RefreshSlots(), 0u);
    EXPECT_EQ(tokens.Binding().SlotCount(), 1u);
}

TEST_F(TokenFaultsTest, LibraryInitialisedByAnotherIsRefused) {
    fake.Fail("C_Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED, 1);
    EXPECT_EQ(tokens.Binding().InitP11(), TokenError::NteFail);
    EXPECT_FALSE(tokens.Binding().IsInitialised());
}

TEST_F(TokenFaultsTest, AbsurdLengthsAreRefusedBeforeAnythingIsCopied) {
    const CK_OBJECT_HANDLE container = fake.AddContainer("Alpha");
    fake.AddKeyPair("Alpha_cspX", 1024);
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    ContainerInfo info;
    ASSERT_EQ(tokens.Containers().GetContainerByIndex(Slot0(), 0, &info), 0u);
    fake.absurdLengths = true;
    EXPECT_EQ(tokens.Binding().RefreshSlots(), TokenError::NteNoMemory);
    EXPECT_EQ(Operation(0x2022, Pair(container, 1)), TokenError::NteBadData);
    EXPECT_EQ(Operation(0x2011, {}), 0u);  // PIN information is the low 16 bits
    EXPECT_EQ(ReadU16(reply.pPayload + 2), 0xFFF0);
}

TEST_F(TokenFaultsTest, LibraryErrorsMidOperationAreMapped) {
    const CK_OBJECT_HANDLE container = fake.AddContainer("Alpha");
    fake.AddKeyPair("Alpha_cspX", 1024);
    fake.slots[0].loggedIn = true;
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    const struct {
        const char* function;
        CK_RV rv;
        uint32_t status;
    } cases[] = {
        {"C_DecryptInit", CKR_DEVICE_ERROR, TokenError::NteFail},
        {"C_Decrypt", CKR_DEVICE_REMOVED, TokenError::NteFail},
        {"C_Decrypt", CKR_BUFFER_TOO_SMALL, TokenError::MoreData},
        {"C_Decrypt", CKR_USER_NOT_LOGGED_IN, TokenError::ScardCardNotAuthenticated},
        {"C_FindObjectsInit", CKR_TOKEN_NOT_PRESENT, TokenError::ScardUnknownCard},
        {"C_GetSessionInfo", CKR_DEVICE_ERROR, TokenError::NteFail},  // then the session cannot reopen
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        fake.Fail(c.function, c.rv, c.function == std::string("C_GetSessionInfo") ? 0 : 1);
        if (c.function == std::string("C_GetSessionInfo")) fake.Fail("C_OpenSession", CKR_DEVICE_ERROR);
        // Keys are looked up again each time: the first search of a case meets its fault.
        tokens.Containers().WithKeyInfo(Slot0(), container, 1, [](P11KeyInfo& key) { key = P11KeyInfo(); });
        EXPECT_EQ(Operation(0x2024, Pair(container, 1, 128)), c.status);
        EXPECT_EQ(reply.wCode, 0xA024);
    }
}

TEST_F(TokenFaultsTest, OverlongLabelEndsTheEnumerationAndTheNextLookupTriesAgain) {
    // The overlong label comes first, so no lookup can meet a container listed before the
    // enumeration gives up.
    const CK_OBJECT_HANDLE longOne = fake.AddContainer(std::string(256, 'L'));
    fake.AddContainer("Alpha");
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    ContainerInfo info;
    EXPECT_EQ(tokens.Containers().GetContainerByIndex(Slot0(), 0, &info), TokenError::MoreData);
    EXPECT_TRUE(Slot0().m_containers.empty());
    fake.objects.erase(longOne);
    EXPECT_EQ(tokens.Containers().GetContainerByIndex(Slot0(), 0, &info), 0u);
    EXPECT_EQ(info.Name(), "Alpha");
}

TEST_F(TokenFaultsTest, SlotTableHoldsTheFirst256AndKeepsRecordsWhenTheListShrinks) {
    fake.slots.clear();
    for (CK_SLOT_ID id = 1; id <= 300; ++id) fake.slots.push_back({id, "Reader " + std::to_string(id), false});
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    EXPECT_EQ(tokens.Binding().SlotCount(), 256u);
    fake.slots.resize(3);
    ASSERT_EQ(tokens.Binding().RefreshSlots(), 0u);
    EXPECT_EQ(tokens.Binding().SlotCount(), 3u);
    EXPECT_EQ(tokens.Binding().SlotAt(5).SlotId(), 6u);  // kept, beyond the count
    fake.slots.push_back({77, "Late reader", true});
    ASSERT_EQ(tokens.Binding().RefreshSlots(), 0u);
    ASSERT_EQ(tokens.Binding().SlotCount(), 4u);
    EXPECT_EQ(tokens.Binding().SlotAt(3).SlotId(), 77u);
    EXPECT_EQ(tokens.Binding().SlotAt(3).Description(), "Late reader");
    EXPECT_TRUE(tokens.Binding().SlotAt(3).TokenPresent());
    EXPECT_EQ(tokens.Binding().FindSlotById(6), nullptr);
}

TEST_F(TokenFaultsTest, AllBlankDescriptionIsEmpty) {
    fake.slots[0].description = std::string(64, ' ');
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    EXPECT_EQ(Slot0().Description(), "");
}

TEST_F(TokenFaultsTest, TokenGoneBetweenRequestsGivesCleanErrorsAndComesBack) {
    const CK_OBJECT_HANDLE container = fake.AddContainer("Alpha");
    fake.AddKeyPair("Alpha_cspX", 1024);
    fake.slots[0].loggedIn = true;
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    ASSERT_EQ(Operation(0x2024, Pair(container, 1, 128)), 0u);
    fake.SetPresent(1, false);  // pulled out, no poll has seen it yet
    EXPECT_EQ(Operation(0x2024, Pair(container, 1, 128)), TokenError::ScardUnknownCard);
    uint8_t id[4];
    WriteU32(id, 1);
    ASSERT_EQ(tokens.Requests().HandleSlotState(id, 4, arena, reply), 0u);
    EXPECT_EQ(ReadU32(reply.pPayload + 4), 0u);
    // Nothing is listed now, and the token cannot be searched.
    EXPECT_EQ(Operation(0x2024, Pair(container, 1, 128)), TokenError::ScardUnknownCard);
    fake.SetPresent(1, true);
    ASSERT_EQ(tokens.Requests().HandleSlotState(id, 4, arena, reply), 0u);
    // The login ended with the removal: the private key serves again only after a new one.
    EXPECT_EQ(Operation(0x2024, Pair(container, 1, 128)), TokenError::ScardCardNotAuthenticated);
    ASSERT_EQ(Operation(0x2012, {'1', '2', '3', '4', 0}), 0u);
    ASSERT_EQ(reply.pPayload[0], 1);
    EXPECT_EQ(Operation(0x2024, Pair(container, 1, 128)), 0u);
}

TEST_F(TokenFaultsTest, ACardSwappedBetweenPollsIsKnownByItsOwnSerial) {
    const CK_OBJECT_HANDLE container = fake.AddContainer("Alpha");
    fake.AddKeyPair("Alpha_cspX", 1024);
    std::vector<TokenSignIn> signIns;
    tokens.Requests().GetLogonComponentState = [] { return uint16_t {2}; };
    tokens.Requests().RecordCardSignIn = [&](const TokenSignIn& signIn) { signIns.push_back(signIn); };
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    uint8_t id[4];
    WriteU32(id, 1);
    // Each card is pulled and the next put in before any poll looks: the slot reads present
    // before and after.
    const struct {
        const char* serial;
        bool signIn;  // a private-key operation first (after a login: the last one ended with its card)
    } cards[] = {{"FEDCBA9876543210", false}, {"00112233AABBCCDD", true}};
    for (const auto& card : cards) {
        SCOPED_TRACE(card.serial);
        fake.SetPresent(1, false);
        fake.slots[0].serial = card.serial;
        fake.SetPresent(1, true);
        const std::string expected(card.serial);
        if (card.signIn) {
            ASSERT_EQ(Operation(0x2012, {'1', '2', '3', '4', 0}), 0u);
            ASSERT_EQ(Operation(0x2024, Pair(container, 1, 128)), 0u);
            ASSERT_EQ(signIns.size(), 1u);
            EXPECT_EQ(std::string(signIns[0].serial.begin(), signIns[0].serial.end()), expected);
        }
        ASSERT_EQ(tokens.Requests().HandleSlotState(id, 4, arena, reply), 0u);
        EXPECT_EQ(ReadU32(reply.pPayload + 4), 1u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.pPayload) + SlotEntry::kSerialOffset, 16), expected);
        arena.Release();
        ASSERT_EQ(tokens.Requests().HandleSlotList(nullptr, 0, arena, reply), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.pPayload) + 2 + SlotEntry::kSerialOffset, 16),
                  expected);
    }
}

TEST_F(TokenFaultsTest, TwoCreatorsOfOneNameMakeOneContainer) {
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    ContainerInfo info;
    // The token is listed completely (and empty): a name not in the list is free.
    ASSERT_EQ(tokens.Containers().GetContainerByIndex(Slot0(), 0, &info), TokenError::NoMoreItems);
    std::thread second;
    uint32_t secondResult = 0;
    uint32_t secondHandle = 0;
    std::atomic<int> creations {0};
    fake.onCreateObject = [&] {
        if (creations++ != 0) return;
        // The first creator is inside the library; a second one for the same name starts now and
        // is given the time to look the name up.
        second = std::thread([&] { secondResult = tokens.Objects().CreateContainer(Slot0(), "Alpha", secondHandle); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    uint32_t handle = 0;
    EXPECT_EQ(tokens.Objects().CreateContainer(Slot0(), "Alpha", handle), 0u);
    second.join();
    fake.onCreateObject = nullptr;
    EXPECT_EQ(secondResult, TokenError::NteExists);
    int objects = 0;
    for (const auto& [object, attributes] : fake.objects) {
        auto label = attributes.find(CKA_LABEL);
        objects += label != attributes.end() && label->second == FakePkcs11::Bytes("Alpha");
    }
    EXPECT_EQ(objects, 1);
    ASSERT_EQ(tokens.Containers().FindContainerByName(Slot0(), "Alpha", &info), 0u);
    EXPECT_EQ(info.hContainer, handle);
}

TEST_F(TokenFaultsTest, FinalisationGivesUpOnASlotEventWaitThatNeverEnds) {
    fake.HoldSlotEventWaits(true);
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    ASSERT_TRUE(fake.WaitForHeldWait());
    const uint32_t before = platform.clock.GetTickCount();
    EXPECT_EQ(tokens.Binding().FinP11(), 0u);
    EXPECT_FALSE(tokens.Binding().IsInitialised());
    // FinP11 returned although the wait never ended, after giving the thread its time. No upper
    // bound on the fake clock: the held thread's own sleeps move the same clock (by seconds under
    // Wine), and an unbounded wait would never return at all.
    const uint32_t waited = platform.clock.GetTickCount() - before;
    EXPECT_GE(waited, CP11Binding::kEventThreadEndMilliseconds);
    // The wait ends late, reporting an event: the thread left behind ends without bringing the
    // library up again.
    fake.HoldSlotEventWaits(false);
    platform.threads.JoinAll();
    EXPECT_FALSE(tokens.Binding().IsInitialised());
    EXPECT_FALSE(fake.initialised);
    // A later initialisation starts a thread of its own.
    fake.events = {1};
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    platform.threads.JoinAll();
    EXPECT_TRUE(tokens.Binding().EventThreadFinished());
}

TEST_F(TokenFaultsTest, EventForAnUnknownSlotOnlyRefreshesTheTable) {
    fake.events = {99, 1};
    ASSERT_EQ(tokens.Binding().InitP11(), 0u);
    platform.threads.JoinAll();  // the event thread ends once the events are used up
    EXPECT_TRUE(tokens.Binding().EventThreadFinished());
    EXPECT_EQ(tokens.Binding().SlotCount(), 1u);
    EXPECT_TRUE(Slot0().TokenPresent());
}

}  // namespace
}  // namespace corvane::test
