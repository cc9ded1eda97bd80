// The token layer checked against an independent PKCS#11 client: a token set up with OpenSC's
// pkcs11-tool shows its key through the service's requests, and what the service writes is what
// pkcs11-tool reads.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include "crypto/openssl_oracle.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(Pkcs11Tool, KeyMadeByTheToolIsServedAndObjectsWrittenAreSeenByIt) {
    TokenWorld world;
    const std::string tool = std::string("pkcs11-tool --module ") + kSoftHsmLibrary + " ";
    world.Run(tool + "--init-token --slot-index 0 --label tool --so-pin " + kSoPin + " >/dev/null 2>&1");
    world.Run(tool + "--slot-index 0 --init-pin --login --login-type so --so-pin " + kSoPin + " --pin " + kUserPin +
              " >/dev/null 2>&1");
    world.Run(tool + "--slot-index 0 --login --pin " + kUserPin +
              " --keypairgen --key-type rsa:1024 --label made-by-tool --id " + Hex("Alpha_cspX") + " >/dev/null 2>&1");
    const std::string pubkey = world.platform.Root() + "/pub.der";
    world.Run(tool + "--slot-index 0 --read-object --type pubkey --id " + Hex("Alpha_cspX") + " -o " + pubkey +
              " >/dev/null 2>&1");
    FILE* file = std::fopen(pubkey.c_str(), "rb");
    ASSERT_NE(file, nullptr) << "pkcs11-tool made no key";
    std::vector<uint8_t> der(4096);
    der.resize(std::fread(der.data(), 1, der.size(), file));
    std::fclose(file);
    const unsigned char* p = der.data();
    EvpKey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(key);

    world.UseTestTokenModule();
    ASSERT_EQ(world.tokens.Binding().InitP11(), 0u);
    CTokenRequests& requests = world.tokens.Requests();
    const uint32_t slotId = world.tokens.Binding().SlotAt(0).SlotId();
    std::vector<uint8_t> payload;
    auto send = [&](uint16_t subOpcode, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> request = TokenOperation(slotId, subOpcode, data);
        ReplyArena arena;
        TokenReply reply;
        const uint32_t status = requests.HandleTokenOperation(request.data(), request.size(), arena, reply);
        payload.assign(reply.pPayload, reply.pPayload + reply.wLength);
        return status;
    };
    ASSERT_EQ(send(TokenRequest::Login, Text(kUserPin)), 0u);
    ASSERT_EQ(send(TokenRequest::CreateContainer, Text("Alpha")), 0u);
    const uint32_t alpha = ReadU32(payload.data());
    ASSERT_EQ(send(TokenRequest::GetPublicKey, Concat({U32(alpha), U32(1)})), 0u);
    ASSERT_EQ(payload.size(), 12u + 128);
    EXPECT_EQ(ReadU32(payload.data() + 4), 1024u);
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 12, payload.end()), OpenSslKeyNumber(key.get(), "n"));

    // The raw private operation through the service agrees with OpenSSL's public operation.
    std::vector<uint8_t> block(128, 0x5A);
    block[0] = 0;
    ASSERT_EQ(send(TokenRequest::RsaPrivate, Concat({U32(alpha), U32(1), block})), 0u);
    EXPECT_EQ(OpenSslRawRsa(key.get(), false, payload).value(), block);

    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x09};
    ASSERT_EQ(send(TokenRequest::WriteCertificate, Concat({U32(alpha), U32(1), cert})), 0u);
    const std::string listing = world.Run(tool + "--slot-index 0 --list-objects --login --pin " + kUserPin + " 2>/dev/null");
    EXPECT_NE(listing.find("Certificate Object"), std::string::npos) << listing;
    EXPECT_NE(listing.find(Hex("Alpha_cspX")), std::string::npos) << listing;
    EXPECT_NE(listing.find("made-by-tool"), std::string::npos) << listing;
}

}  // namespace
}  // namespace corvane::test
