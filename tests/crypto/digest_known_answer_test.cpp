// Digest vectors of RFC 1319 (MD2), RFC 1321 (MD5) and FIPS 180 (SHA family).
#include <gtest/gtest.h>

#include <string>

#include "crypto/digest.h"
#include "crypto_test_util.h"

namespace corvane::test {
namespace {

Bytes DigestOf(uint32_t algorithm, const Bytes& data) {
    DigestHandle h = nullptr;
    EXPECT_EQ(DigestCreate(&h, algorithm), 0);
    EXPECT_EQ(DigestUpdate(h, data.data(), static_cast<uint32_t>(data.size())), 0);
    Bytes out(DigestSize(algorithm));
    EXPECT_EQ(DigestFinal(h, out.data()), 0);
    EXPECT_EQ(DigestDestroy(h), 0);
    return out;
}

struct DigestVector {
    uint32_t algorithm;
    std::string message;
    const char* digest;
};

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyz";
const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
const std::string kTwoBlock = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlock512 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

const DigestVector kVectors[] = {
    {DigestAlg::Md2, "", "8350e5a3e24c153df2275c9f80692773"},
    {DigestAlg::Md2, "a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
    {DigestAlg::Md2, "abc", "da853b0d3f88d99b30283a69e6ded6bb"},
    {DigestAlg::Md2, "message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
    {DigestAlg::Md2, kAlphabet, "4e8ddff3650292ab5a4108c3aa47940b"},
    {DigestAlg::Md2, kAlnum, "da33def2a42df13975352846c30338cd"},
    {DigestAlg::Md2, kDigits, "d5976f79d83d3a0dc9806c3c66f3efd8"},
    {DigestAlg::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
    {DigestAlg::Md5, "a", "0cc175b9c0f1b6a831c399e269772661"},
    {DigestAlg::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {DigestAlg::Md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {DigestAlg::Md5, kAlphabet, "c3fcd3d76192e4007dfb496cca67e13b"},
    {DigestAlg::Md5, kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
    {DigestAlg::Md5, kDigits, "57edf4a22be3c955ac49da2e2107b67a"},
    {DigestAlg::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {DigestAlg::Sha1, kTwoBlock, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {DigestAlg::Sha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {DigestAlg::Sha224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {DigestAlg::Sha224, kTwoBlock, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {DigestAlg::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {DigestAlg::Sha256, kTwoBlock, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {DigestAlg::Sha256, std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {DigestAlg::Sha384, "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {DigestAlg::Sha384, kTwoBlock512,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {DigestAlg::Sha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {DigestAlg::Sha512, kTwoBlock512,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
};

TEST(DigestKnownAnswer, StandardVectors) {
    for (const auto& v : kVectors) {
        EXPECT_EQ(ToHex(DigestOf(v.algorithm, Ascii(v.message))), v.digest)
            << "algorithm " << v.algorithm << ", message of " << v.message.size() << " bytes";
    }
}

TEST(DigestKnownAnswer, DigestSizes) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{DigestAlg::Sha1, 20},   {DigestAlg::Md2, 16},
                                                   {DigestAlg::Md5, 16},    {DigestAlg::Sha224, 28},
                                                   {DigestAlg::Sha256, 32}, {DigestAlg::Sha384, 48},
                                                   {DigestAlg::Sha512, 64}, {104, 0}};
    for (auto [algorithm, size] : sizes) EXPECT_EQ(DigestSize(algorithm), size) << algorithm;
}

}  // namespace
}  // namespace corvane::test
