// Token object operations against SoftHSM2 behind the test token module, with OpenSSL as the
// second implementation of the raw RSA operations.
#include <gtest/gtest.h>

#include "crypto/openssl_oracle.h"
#include "token/p11_error.h"
#include "token/p11_session.h"
#include "token/token_fixture.h"

namespace corvane::test {
namespace {

class ObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.MakeToken("alpha");
        world.UseTestTokenModule();
        ASSERT_EQ(world.tokens.Binding().InitP11(), 0u);
        slot = &world.tokens.Binding().SlotAt(0);
        bool loggedIn = false;
        uint16_t pinInfo = 0;
        ASSERT_EQ(objects.Login(*slot, kUserPin, loggedIn, pinInfo), 0u);
        ASSERT_TRUE(loggedIn);
        TokenWorld::WaitForFirstListing(*slot);
    }
    ContainerInfo Create(const std::string& name) {
        uint32_t handle = 0;
        EXPECT_EQ(objects.CreateContainer(*slot, name, handle), 0u);
        ContainerInfo info;
        EXPECT_EQ(containers.GetContainerByHandle(*slot, handle, &info), 0u);
        return info;
    }
    // Objects on the token whose CKA_ID is `id`, counted by class.
    size_t CountById(const std::string& id, CK_OBJECT_CLASS cls) {
        CK_ATTRIBUTE t[] = {{CKA_ID, const_cast<char*>(id.data()), id.size()}, {CKA_CLASS, &cls, sizeof(cls)}};
        CP11Search search(containers.F());
        EXPECT_EQ(search.Start(slot->LibrarySlotId(), t, 2), CKR_OK);
        size_t count = 0;
        for (;;) {
            CK_OBJECT_HANDLE object = 0;
            bool found = false;
            EXPECT_EQ(search.Next(object, found), CKR_OK);
            if (!found) return count;
            ++count;
        }
    }
    std::vector<uint8_t> Block(size_t size, uint8_t seed) {
        std::vector<uint8_t> block(size);
        for (size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(seed + i * 7);
        block[0] = 0;  // below the modulus
        return block;
    }

    TokenWorld world;
    CP11Containers& containers = world.tokens.Containers();
    CP11Objects& objects = world.tokens.Objects();
    P11Slot* slot = nullptr;
};

TEST_F(ObjectsTest, ContainerNamesAreUniqueAndTheEmptyNameMeansTheDefault) {
    Create("Alpha");
    uint32_t handle = 0;
    EXPECT_EQ(objects.CreateContainer(*slot, "Alpha", handle), TokenError::NteExists);
    EXPECT_EQ(objects.CreateContainer(*slot, "", handle), TokenError::NteExists);
    EXPECT_EQ(objects.CreateContainer(*slot, std::string(256, 'n'), handle), TokenError::NteBadData);
    EXPECT_EQ(slot->m_containers.size(), 1u);
}

TEST_F(ObjectsTest, ImportedKeyGivesOpenSslsRawResults) {
    EvpKey key = OpenSslGenerateRsa(2048);
    ASSERT_TRUE(key);
    const ContainerInfo container = Create("Alpha");
    const std::vector<uint8_t> der = OpenSslPrivateDer(key.get());
    ASSERT_EQ(objects.ImportKeyPair(*slot, container, kAtKeyExchange, der.data(), static_cast<uint32_t>(der.size())),
              0u);
    ReplyArena arena;
    uint32_t bits = 0;
    uint32_t exponent = 0;
    const uint8_t* modulus = nullptr;
    ASSERT_EQ(containers.GetPublicKey(*slot, container, kAtKeyExchange, bits, &exponent, &modulus, &arena), 0u);
    EXPECT_EQ(bits, 2048u);
    EXPECT_EQ(exponent, 65537u);
    EXPECT_EQ(std::vector<uint8_t>(modulus, modulus + 256), OpenSslKeyNumber(key.get(), "n"));

    for (bool usePublic : {false, true}) {
        SCOPED_TRACE(usePublic ? "public" : "private");
        std::vector<uint8_t> block = Block(256, usePublic ? 3 : 5);
        const auto expected = OpenSslRawRsa(key.get(), !usePublic, block);
        ASSERT_TRUE(expected);
        ASSERT_EQ(objects.RsaRawOperation(*slot, container, kAtKeyExchange, usePublic, block.data(), 256), 0u);
        EXPECT_EQ(block, *expected);
    }
    std::vector<uint8_t> shortBlock(255);
    EXPECT_EQ(objects.RsaRawOperation(*slot, container, kAtKeyExchange, false, shortBlock.data(), 255),
              TokenError::NteBadLen);
    EXPECT_EQ(objects.ImportKeyPair(*slot, container, kAtKeyExchange, der.data(), 10), TokenError::NteBadData);
}

TEST_F(ObjectsTest, GeneratedKeyReplacesTheOldKeysAndKeepsTheCertificate) {
    const ContainerInfo container = Create("Alpha");
    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x07};
    ASSERT_EQ(objects.GenerateKeyPair(*slot, container, kAtSignature, 1024, 65537), 0u);
    ASSERT_EQ(objects.WriteCertificate(*slot, container, kAtSignature, cert.data(), 5), 0u);
    ASSERT_EQ(objects.GenerateKeyPair(*slot, container, kAtSignature, 1024, 3), 0u);
    EXPECT_EQ(CountById("Alpha_cspS", CKO_PUBLIC_KEY), 1u);
    EXPECT_EQ(CountById("Alpha_cspS", CKO_PRIVATE_KEY), 1u);
    EXPECT_EQ(CountById("Alpha_cspS", CKO_CERTIFICATE), 1u);
    uint32_t bits = 0;
    uint32_t exponent = 0;
    ASSERT_EQ(containers.GetPublicKey(*slot, container, kAtSignature, bits, &exponent, nullptr, nullptr), 0u);
    EXPECT_EQ(bits, 1024u);
    EXPECT_EQ(exponent, 3u);
    // Private then public gives the block back.
    std::vector<uint8_t> block = Block(128, 9);
    const std::vector<uint8_t> original = block;
    ASSERT_EQ(objects.RsaRawOperation(*slot, container, kAtSignature, false, block.data(), 128), 0u);
    EXPECT_NE(block, original);
    ASSERT_EQ(objects.RsaRawOperation(*slot, container, kAtSignature, true, block.data(), 128), 0u);
    EXPECT_EQ(block, original);
}

TEST_F(ObjectsTest, WritingTheSameCertificateTwiceLeavesTheTokenAlone) {
    const ContainerInfo container = Create("Alpha");
    const std::vector<uint8_t> first = {0x30, 0x03, 0x02, 0x01, 0x01};
    const std::vector<uint8_t> second = {0x30, 0x03, 0x02, 0x01, 0x02};
    ASSERT_EQ(objects.WriteCertificate(*slot, container, kAtKeyExchange, first.data(), 5), 0u);
    uint32_t handle = 0;
    ASSERT_EQ(containers.FindCertificate(*slot, container, kAtKeyExchange, handle), 0u);
    ASSERT_EQ(objects.WriteCertificate(*slot, container, kAtKeyExchange, first.data(), 5), 0u);
    uint32_t again = 0;
    ASSERT_EQ(containers.FindCertificate(*slot, container, kAtKeyExchange, again), 0u);
    EXPECT_EQ(again, handle);
    ASSERT_EQ(objects.WriteCertificate(*slot, container, kAtKeyExchange, second.data(), 5), 0u);
    EXPECT_EQ(CountById("Alpha_cspX", CKO_CERTIFICATE), 1u);
    ReplyArena arena;
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(containers.ReadCertificate(*slot, container, kAtKeyExchange, bytes, length, arena), 0u);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + length), second);
}

TEST_F(ObjectsTest, DeletingAContainerDestroysItsKeysAndCertificatesFirst) {
    const ContainerInfo container = Create("Alpha");
    const ContainerInfo other = Create("Beta");
    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x01};
    ASSERT_EQ(objects.GenerateKeyPair(*slot, container, kAtSignature, 1024, 65537), 0u);
    ASSERT_EQ(objects.GenerateKeyPair(*slot, container, kAtKeyExchange, 1024, 65537), 0u);
    ASSERT_EQ(objects.WriteCertificate(*slot, container, kAtKeyExchange, cert.data(), 5), 0u);
    ASSERT_EQ(objects.GenerateKeyPair(*slot, other, kAtKeyExchange, 1024, 65537), 0u);
    ASSERT_EQ(objects.DeleteContainer(*slot, container.hContainer), 0u);
    for (const char* id : {"Alpha_cspS", "Alpha_cspX"}) {
        EXPECT_EQ(CountById(id, CKO_PUBLIC_KEY) + CountById(id, CKO_PRIVATE_KEY) + CountById(id, CKO_CERTIFICATE), 0u)
            << id;
    }
    EXPECT_EQ(CountById("Beta_cspX", CKO_PRIVATE_KEY), 1u);
    ContainerInfo info;
    EXPECT_EQ(containers.FindContainerByName(*slot, "Alpha", &info), TokenError::NteBadKeyset);
    EXPECT_EQ(objects.DeleteContainer(*slot, container.hContainer), TokenError::NteBadKeyset);
}

TEST_F(ObjectsTest, PinsAreCheckedChangedAndUnblocked) {
    bool loggedIn = true;
    uint16_t pinInfo = 0;
    ASSERT_EQ(objects.Login(*slot, "0000", loggedIn, pinInfo), 0u);
    EXPECT_FALSE(loggedIn);  // a wrong PIN is an answer, not an error
    EXPECT_EQ(pinInfo, 255u);
    ASSERT_EQ(objects.GetLoginState(*slot, loggedIn, pinInfo), 0u);
    EXPECT_FALSE(loggedIn);  // the wrong PIN did not ride on the earlier login
    ASSERT_EQ(objects.Login(*slot, kUserPin, loggedIn, pinInfo), 0u);
    EXPECT_TRUE(loggedIn);
    EXPECT_EQ(objects.ChangePin(*slot, kUserPin, "24680"), 0u);
    EXPECT_EQ(objects.ChangePin(*slot, "99999", "13579"), TokenError::ScardWrongChv);
    EXPECT_EQ(objects.UnblockPin(*slot, kSoPin, "11111"), 0u);
    ASSERT_EQ(objects.GetLoginState(*slot, loggedIn, pinInfo), 0u);
    EXPECT_TRUE(loggedIn);
    EXPECT_EQ(objects.UnblockPin(*slot, "0000", "22222"), TokenError::ScardWrongChv);
}

TEST_F(ObjectsTest, PrivateOperationWithoutLoginIsNotAuthenticated) {
    const ContainerInfo container = Create("Alpha");
    ASSERT_EQ(objects.GenerateKeyPair(*slot, container, kAtKeyExchange, 1024, 65537), 0u);
    ASSERT_EQ(containers.F()->C_Logout(slot->m_hSession), CKR_OK);
    std::vector<uint8_t> block = Block(128, 1);
    EXPECT_EQ(objects.RsaRawOperation(*slot, container, kAtKeyExchange, false, block.data(), 128),
              TokenError::ScardCardNotAuthenticated);
}

TEST_F(ObjectsTest, InitTokenEmptiesTheTokenAndSetsNewPins) {
    Create("Alpha");
    ASSERT_EQ(objects.InitToken(*slot, true, kSoPin, "97531"), 0u);
    ContainerInfo info;
    EXPECT_EQ(containers.GetContainerByIndex(*slot, 0, &info), TokenError::NoMoreItems);
    bool loggedIn = false;
    uint16_t pinInfo = 0;
    ASSERT_EQ(objects.Login(*slot, "97531", loggedIn, pinInfo), 0u);
    EXPECT_TRUE(loggedIn);
    EXPECT_EQ(objects.InitToken(*slot, true, "0000", "1"), TokenError::ScardWrongChv);
}

}  // namespace
}  // namespace corvane::test
