// Token containers and key lookup against SoftHSM2 behind the test token module.
#include <gtest/gtest.h>

#include <set>

#include "token/p11_error.h"
#include "token/token_fixture.h"

namespace corvane::test {
namespace {

class ContainersTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.MakeToken("alpha");
        world.UseTestTokenModule();
        ASSERT_EQ(world.tokens.Binding().InitP11(), 0u);
        slot = &world.tokens.Binding().SlotAt(0);
        LogIn();
        TokenWorld::WaitForFirstListing(*slot);
    }
    void LogIn() {
        bool loggedIn = false;
        uint16_t pinInfo = 0;
        ASSERT_EQ(world.tokens.Objects().Login(*slot, kUserPin, loggedIn, pinInfo), 0u);
        ASSERT_TRUE(loggedIn);
    }
    // A container object made directly on the token, as another program would.
    CK_OBJECT_HANDLE MakeContainerObject(const std::string& label) {
        CK_FUNCTION_LIST* f = containers.F();
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(f->C_OpenSession(slot->LibrarySlotId(), CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr, nullptr,
                                   &session),
                  CKR_OK);
        CK_OBJECT_CLASS cls = kCkoContainer;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_TOKEN, &yes, sizeof(yes)}};
        CK_OBJECT_HANDLE object = 0;
        EXPECT_EQ(f->C_CreateObject(session, t, 3, &object), CKR_OK);
        f->C_CloseSession(session);
        return object;
    }
    // Removes and re-inserts the token, so that its containers are enumerated afresh.
    void Reinsert() {
        const uint32_t id = slot->SlotId();
        world.SetPresent(id, false);
        ASSERT_TRUE(TokenWorld::WaitFor([&] { return !slot->TokenPresent(); }));
        world.SetPresent(id, true);
        ASSERT_TRUE(TokenWorld::WaitFor([&] { return slot->TokenPresent(); }));
    }
    std::string NameAt(uint32_t index) {
        ContainerInfo info;
        const uint32_t rc = containers.GetContainerByIndex(*slot, index, &info);
        return rc == 0 ? std::string(info.Name()) : "error " + std::to_string(rc);
    }

    TokenWorld world;
    CP11Containers& containers = world.tokens.Containers();
    P11Slot* slot = nullptr;
};

TEST_F(ContainersTest, TokenWithoutContainersHasNoneByIndexOrAsDefault) {
    ContainerInfo info;
    EXPECT_EQ(containers.GetContainerByIndex(*slot, 0, &info), TokenError::NoMoreItems);
    EXPECT_EQ(containers.FindContainerByName(*slot, "", &info), TokenError::NoMoreItems);
    EXPECT_EQ(containers.FindContainerByName(*slot, "Alpha", &info), TokenError::NteBadKeyset);
    EXPECT_EQ(containers.GetContainerByHandle(*slot, 12345, &info), TokenError::NteBadKeyset);
}

TEST_F(ContainersTest, EnumerationListsEachLabelOnce) {
    MakeContainerObject("Alpha");
    MakeContainerObject("Beta");
    MakeContainerObject("Alpha");
    Reinsert();
    // The token's own order decides which "Alpha" comes first; only that one is listed.
    std::set<std::string> names = {NameAt(0), NameAt(1)};
    EXPECT_EQ(names, (std::set<std::string> {"Alpha", "Beta"}));
    EXPECT_EQ(NameAt(2), "error 259");
    ContainerInfo listed;
    ASSERT_EQ(containers.GetContainerByIndex(*slot, NameAt(0) == "Alpha" ? 0 : 1, &listed), 0u);
    ContainerInfo info;
    ASSERT_EQ(containers.FindContainerByName(*slot, "Alpha", &info), 0u);
    EXPECT_EQ(info.hContainer, listed.hContainer);
    ASSERT_EQ(containers.FindContainerByName(*slot, "", &info), 0u);  // the default container: the first
    EXPECT_EQ(info.Name(), NameAt(0));
    EXPECT_EQ(containers.FindContainerByName(*slot, "alpha", &info), TokenError::NteBadKeyset);  // case counts
}

TEST_F(ContainersTest, NameLookupDuringAnUnfinishedEnumerationSearchesTheTokenDirectly) {
    MakeContainerObject("Alpha");
    MakeContainerObject("Beta");
    Reinsert();
    ASSERT_EQ(NameAt(2), "error 259");
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return slot->m_bThreadEnded.load() == 1; }));
    // As if an enumeration had just been asked to start and had listed nothing yet.
    containers.ClearContainers(*slot);
    slot->m_bRunning = 1;
    ContainerInfo info;
    ASSERT_EQ(containers.FindContainerByName(*slot, "Beta", &info), 0u);
    EXPECT_EQ(slot->m_containers.size(), 1u);
    slot->m_bRunning = 0;
    // The enumeration then lists the rest and skips the container already there.
    EXPECT_EQ(NameAt(0), "Beta");
    EXPECT_EQ(NameAt(1), "Alpha");
    EXPECT_EQ(NameAt(2), "error 259");
}

TEST_F(ContainersTest, MissingKeyIsSearchedOnceThenKnownAbsent) {
    MakeContainerObject("Alpha");
    Reinsert();
    ContainerInfo info;
    ASSERT_EQ(containers.FindContainerByName(*slot, "Alpha", &info), 0u);
    uint32_t handle = 0;
    EXPECT_EQ(containers.FindKeyHandle(*slot, info, kAtKeyExchange, true, handle), TokenError::NteNoKey);
    EXPECT_EQ(containers.FindKeyHandle(*slot, info, kAtKeyExchange, true, handle), TokenError::NteNotFound);
    uint32_t certificate = 0;
    EXPECT_EQ(containers.FindCertificate(*slot, info, kAtSignature, certificate), TokenError::NteNotFound);
    uint32_t bits = 0;
    EXPECT_EQ(containers.GetPublicKey(*slot, info, 3, bits, nullptr, nullptr, nullptr), TokenError::NteBadData);
}

TEST_F(ContainersTest, KeyIdentifierIsTheNameAndTheKeySpecSuffix) {
    MakeContainerObject("Alpha");
    Reinsert();
    ContainerInfo info;
    ASSERT_EQ(containers.FindContainerByName(*slot, "Alpha", &info), 0u);
    uint8_t id[16];
    uint32_t length = 0;
    EXPECT_EQ(containers.MakeKeyId(*slot, info, kAtSignature, nullptr, length), 0u);
    EXPECT_EQ(length, 10u);
    length = 9;
    EXPECT_EQ(containers.MakeKeyId(*slot, info, kAtSignature, id, length), TokenError::MoreData);
    length = sizeof(id);
    ASSERT_EQ(containers.MakeKeyId(*slot, info, kAtSignature, id, length), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id), length), "Alpha_cspS");
    length = sizeof(id);
    ASSERT_EQ(containers.MakeKeyId(*slot, info, kAtKeyExchange, id, length), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id), length), "Alpha_cspX");
    EXPECT_EQ(containers.MakeKeyId(*slot, info, 0, id, length), TokenError::NteBadData);
}

// A request can meet a token that came back before its arrival was handled: no working session
// yet, no list. SoftHSM2 numbers a token's objects afresh once none of the process's sessions is
// open, so the handles listed must come from a time the working session is open, and stay valid.
TEST_F(ContainersTest, HandlesListedBeforeTheWorkingSessionOpensStayValid) {
    MakeContainerObject("Alpha");
    Reinsert();
    containers.CloseSession(*slot);
    containers.StopEnumeration(*slot);
    containers.ClearContainers(*slot);
    ContainerInfo info;
    ASSERT_EQ(containers.GetContainerByIndex(*slot, 0, &info), 0u);
    uint8_t id[16];
    uint32_t length = sizeof(id);
    EXPECT_EQ(containers.MakeKeyId(*slot, info, kAtKeyExchange, id, length), 0u);
    ContainerInfo again;
    ASSERT_EQ(containers.GetContainerByIndex(*slot, 0, &again), 0u);
    EXPECT_EQ(again.hContainer, info.hContainer);
}

TEST_F(ContainersTest, RemovedTokenLeavesAnEmptyListAndCleanErrors) {
    MakeContainerObject("Alpha");
    Reinsert();
    ASSERT_EQ(NameAt(0), "Alpha");
    world.SetPresent(slot->SlotId(), false);
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return !slot->TokenPresent(); }));
    EXPECT_TRUE(slot->m_containers.empty());
    ContainerInfo info;
    EXPECT_NE(containers.GetContainerByIndex(*slot, 0, &info), 0u);
    EXPECT_EQ(containers.EnsureSession(*slot), TokenError::ScardUnknownCard);
}

TEST(FoldExponent, BigEndianBytesUpToFourSignificant) {
    const uint8_t e65537[] = {0x01, 0x00, 0x01};
    const uint8_t padded[] = {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    const uint8_t five[] = {0x01, 0x00, 0x00, 0x00, 0x01};
    uint32_t value = 0;
    EXPECT_TRUE(FoldExponent(e65537, sizeof(e65537), value));
    EXPECT_EQ(value, 65537u);
    EXPECT_TRUE(FoldExponent(padded, sizeof(padded), value));
    EXPECT_EQ(value, 65537u);
    EXPECT_FALSE(FoldExponent(five, sizeof(five), value));
}

}  // namespace
}  // namespace corvane::test
