// RsaDerToPrivateKeyBlob: the blob layout against OpenSSL's numbers of the same key, the size
// protocol, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/crypto_status.h"
#include "crypto/openssl_oracle.h"
#include "crypto/rsa.h"
#include "crypto/rsa_test_util.h"
#include "platform/key_container.h"
#include "token/private_key_blob.h"

namespace corvane::test {
namespace {

Bytes Reversed(Bytes v) {
    std::reverse(v.begin(), v.end());
    return v;
}

uint32_t Le32(const Bytes& blob, size_t offset) {
    return blob[offset] | blob[offset + 1] << 8 | blob[offset + 2] << 16 | static_cast<uint32_t>(blob[offset + 3]) << 24;
}

// The DER of a key made of the given numbers (n, e, d, p, q, dP, dQ, qInv).
Bytes PrivateDer(const std::vector<Bytes>& numbers) {
    std::vector<Bytes> elements {DerInteger(Hex("00"))};
    for (const auto& v : numbers) elements.push_back(DerInteger(v));
    return DerSequence(elements);
}

class PrivateKeyBlob : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A 2048-bit key whose numbers all have their full lengths, so that it converts.
        for (;;) {
            EvpKey key = OpenSslGenerateRsa(2048);
            std::vector<Bytes> numbers;
            for (const char* name : {"n", "e", "d", "rsa-factor1", "rsa-factor2", "rsa-exponent1", "rsa-exponent2",
                                     "rsa-coefficient1"}) {
                numbers.push_back(OpenSslKeyNumber(key.get(), name));
            }
            bool full = numbers[2].size() == 256;
            for (size_t i = 3; i < 8; ++i) full = full && numbers[i].size() == 128;
            if (full) {
                s_numbers = new std::vector<Bytes>(numbers);
                return;
            }
        }
    }
    static void TearDownTestSuite() { delete s_numbers; }
    static std::vector<Bytes>* s_numbers;
};
std::vector<Bytes>* PrivateKeyBlob::s_numbers = nullptr;

TEST_F(PrivateKeyBlob, A2048BitKeyGivesThe1172ByteBlobOfItsNumbers) {
    const std::vector<Bytes>& k = *s_numbers;
    const Bytes der = PrivateDer(k);
    uint32_t size = 0;
    ASSERT_EQ(RsaDerToPrivateKeyBlob(nullptr, &size, der.data(), static_cast<uint32_t>(der.size())), 0u);
    EXPECT_EQ(size, 1172u);
    Bytes blob(size);
    ASSERT_EQ(RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size())), 0u);
    EXPECT_EQ(size, 1172u);
    EXPECT_EQ(ToHex(Bytes(blob.begin(), blob.begin() + 4)), "07020000");
    EXPECT_EQ(Le32(blob, 4), 0x0000A400u);
    EXPECT_EQ(Le32(blob, 8), 0x32415352u);
    EXPECT_EQ(Le32(blob, 12), 2048u);
    EXPECT_EQ(Le32(blob, 16), 65537u);
    const size_t l = 256, h = 128;
    const std::pair<size_t, size_t> fields[] = {{20, 0},          {20 + l, 3},         {20 + l + h, 4},
                                                {20 + l + 2 * h, 5}, {20 + l + 3 * h, 6}, {20 + l + 4 * h, 7},
                                                {20 + l + 5 * h, 2}};
    for (auto [offset, index] : fields) {
        const size_t width = (index == 0 || index == 2) ? l : h;
        EXPECT_EQ(ToHex(Bytes(blob.begin() + offset, blob.begin() + offset + width)), ToHex(Reversed(k[index])))
            << "number " << index;
    }
}

TEST_F(PrivateKeyBlob, AShortCapacityGetsTheSizeAndLeavesTheBlobUntouched) {
    const Bytes der = PrivateDer(*s_numbers);
    Bytes blob(1171, 0xAB);
    uint32_t size = 1171;
    EXPECT_EQ(RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size())), 234u);
    EXPECT_EQ(size, 1172u);
    EXPECT_TRUE(std::all_of(blob.begin(), blob.end(), [](uint8_t b) { return b == 0xAB; }));
}

TEST_F(PrivateKeyBlob, InputItCannotConvertIsBadData) {
    const std::vector<Bytes>& k = *s_numbers;
    auto with = [&](size_t index, Bytes value) {
        std::vector<Bytes> numbers = k;
        numbers[index] = std::move(value);
        return PrivateDer(numbers);
    };
    Bytes shortD = k[2];
    shortD[0] = 0;  // the private exponent one byte short once stripped
    Bytes trailing = PrivateDer(k);
    trailing.push_back(0);
    Bytes truncated = PrivateDer(k);
    truncated.resize(truncated.size() - 1);
    Bytes oddModulus = k[0];
    oddModulus.pop_back();
    Bytes notInteger = PrivateDer(k);
    notInteger[4 + 3] = 0x04;  // the modulus tag, after 30 82 xx xx and the 3-byte version
    struct Case {
        const char* label;
        Bytes der;
    };
    const Case cases[] = {
        {"private exponent with a leading zero byte", with(2, shortD)},
        {"public exponent of five significant bytes", with(1, Hex("0100000001"))},
        {"prime one byte long", with(3, Hex("0101"))},
        {"odd modulus length", with(0, oddModulus)},
        {"trailing byte after the sequence", trailing},
        {"truncated", truncated},
        {"modulus not an INTEGER", notInteger},
        {"not a sequence", Hex("0400")},
        {"empty", Bytes {}},
    };
    for (const auto& c : cases) {
        Bytes blob(2000);
        uint32_t size = static_cast<uint32_t>(blob.size());
        const uint8_t dummy = 0;
        const uint8_t* der = c.der.empty() ? &dummy : c.der.data();
        EXPECT_EQ(RsaDerToPrivateKeyBlob(blob.data(), &size, der, static_cast<uint32_t>(c.der.size())), kNteBadData)
            << c.label;
    }
}

TEST_F(PrivateKeyBlob, NullArgumentsAreInvalidParameters) {
    const Bytes der = PrivateDer(*s_numbers);
    uint32_t size = 0;
    EXPECT_EQ(RsaDerToPrivateKeyBlob(nullptr, nullptr, der.data(), static_cast<uint32_t>(der.size())), 87u);
    EXPECT_EQ(RsaDerToPrivateKeyBlob(nullptr, &size, nullptr, 10), 87u);
}

TEST_F(PrivateKeyBlob, TheVersionElementIsSkippedWhateverItsTag) {
    std::vector<Bytes> elements {DerElement(0x05, Hex("00"))};
    for (const auto& v : *s_numbers) elements.push_back(DerInteger(v));
    const Bytes der = DerSequence(elements);
    Bytes blob(1172);
    uint32_t size = 1172;
    EXPECT_EQ(RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size())), 0u);
}

// The host key's DER goes to both the RSA engine and the key-container blob: both read its
// lengths by one rule (definite, one to four length bytes), so both take or both refuse a key.
TEST_F(PrivateKeyBlob, TheBlobAndTheRsaEngineReadLengthsByOneRule) {
    struct Case {
        const char* label;
        Bytes version;  // the raw version element: tag, length, value
        bool accepted;
    };
    const Case cases[] = {
        {"short form", Hex("020100"), true},
        {"long form with one length byte", Hex("02810100"), true},
        {"long form with four length bytes", Hex("02840000000100"), true},
        {"indefinite length (0x80)", Hex("0280"), false},
        {"five length bytes", Hex("0285000000000100"), false},
        {"eight length bytes", Hex("02880000000000000001" "00"), false},
    };
    for (const auto& c : cases) {
        Bytes content = c.version;
        for (const auto& v : *s_numbers) {
            const Bytes element = DerInteger(v);
            content.insert(content.end(), element.begin(), element.end());
        }
        const Bytes der = DerElement(0x30, content);
        Bytes blob(1172);
        uint32_t size = 1172;
        const uint32_t blobRc = RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size()));
        RsaHandle handle = nullptr;
        const int32_t rsaRc =
            RsaImport(&handle, nullptr, RsaFormat::PrivateKey, der.data(), static_cast<uint32_t>(der.size()));
        if (handle) RsaDestroy(handle);
        EXPECT_EQ(blobRc, c.accepted ? 0u : kNteBadData) << c.label;
        EXPECT_EQ(rsaRc, c.accepted ? CryptoStatus::Ok : CryptoStatus::MalformedDer) << c.label;
    }
}

}  // namespace
}  // namespace corvane::test
