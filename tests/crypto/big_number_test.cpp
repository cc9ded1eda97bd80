// CBigNumber arithmetic and Montgomery exponentiation against OpenSSL's BIGNUM on random values.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/err.h>

#include "crypto/big_number.h"
#include "crypto/montgomery.h"
#include "crypto/montgomery_rows.h"
#include "crypto_test_util.h"

namespace corvane::test {
namespace {

struct BnDeleter {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn ToBn(const Bytes& bytes) { return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr)); }

Bytes FromBn(const BIGNUM* bn) {
    Bytes out(BN_num_bytes(bn));
    BN_bn2bin(bn, out.data());
    return out;
}

Bytes Value(const CBigNumber& v) {
    Bytes out(v.ByteLength());
    EXPECT_TRUE(v.WriteBytes(out.data(), out.size()));
    return out;
}

void Set(CBigNumber& v, const Bytes& bytes) { ASSERT_TRUE(v.SetBytes(bytes.data(), bytes.size())); }

class BigNumberArithmetic : public ::testing::Test {
protected:
    // A random number of up to maxBytes bytes (sometimes with leading zero bytes or limbs).
    Bytes RandomValue(size_t maxBytes) {
        Bytes v = m_random.Take(1 + m_random.Below(maxBytes));
        if (m_random.Below(4) == 0) v[0] = 0;
        return v;
    }
    TestRandom m_random {4242};
    BN_CTX* m_ctx = BN_CTX_new();
    ~BigNumberArithmetic() override { BN_CTX_free(m_ctx); }
};

TEST_F(BigNumberArithmetic, AddSubtractMultiplyDivideMatchOpenSsl) {
    for (int i = 0; i < 300; ++i) {
        const Bytes a = RandomValue(i < 150 ? 20 : 300), b = RandomValue(i < 150 ? 12 : 200);
        CBigNumber x, y, r, q;
        Set(x, a);
        Set(y, b);
        Bn ba = ToBn(a), bb = ToBn(b), br(BN_new()), bq(BN_new());

        ASSERT_TRUE(CBigNumber::Add(r, x, y));
        BN_add(br.get(), ba.get(), bb.get());
        EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get())));

        bool negative = false;
        ASSERT_TRUE(CBigNumber::SubAbs(r, x, y, negative));
        BN_sub(br.get(), ba.get(), bb.get());
        EXPECT_EQ(negative, BN_is_negative(br.get()) != 0);
        BN_set_negative(br.get(), 0);
        EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get())));

        ASSERT_TRUE(CBigNumber::Mul(r, x, y));
        BN_mul(br.get(), ba.get(), bb.get(), m_ctx);
        EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get())));

        ASSERT_TRUE(CBigNumber::Sqr(r, x));
        BN_sqr(br.get(), ba.get(), m_ctx);
        EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get())));

        if (!y.IsZero()) {
            ASSERT_TRUE(CBigNumber::DivMod(&q, &r, x, y));
            BN_div(bq.get(), br.get(), ba.get(), bb.get(), m_ctx);
            EXPECT_EQ(ToHex(Value(q)), ToHex(FromBn(bq.get()))) << ToHex(a) << " / " << ToHex(b);
            EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get()))) << ToHex(a) << " % " << ToHex(b);
        }
    }
}

TEST_F(BigNumberArithmetic, OperationsMayWriteIntoTheirOwnOperands) {
    CBigNumber x, y;
    Set(x, Hex("ffffffffffffffffffffffff"));
    Set(y, Hex("01"));
    ASSERT_TRUE(CBigNumber::Add(x, x, y));
    EXPECT_EQ(ToHex(Value(x)), "01000000000000000000000000");
    ASSERT_TRUE(CBigNumber::Mul(x, x, x));
    const std::string square = "01" + std::string(48, '0');  // (2^96)^2
    EXPECT_EQ(ToHex(Value(x)), square);
    Set(y, Hex("0fffffffffffffff"));
    ASSERT_TRUE(CBigNumber::Mod(x, x, y));
    Bn bx = ToBn(Hex(square)), by = ToBn(Hex("0fffffffffffffff"));
    Bn br(BN_new());
    BN_mod(br.get(), bx.get(), by.get(), m_ctx);
    EXPECT_EQ(ToHex(Value(x)), ToHex(FromBn(br.get())));
}

TEST_F(BigNumberArithmetic, ModularInverseMatchesOpenSslOrReportsNone) {
    int inverses = 0;
    for (int i = 0; i < 100; ++i) {
        const Bytes a = RandomValue(64), m = RandomValue(64);
        CBigNumber x, n, r;
        Set(x, a);
        Set(n, m);
        if (n.IsZero() || n.IsOne()) continue;
        bool exists = false;
        ASSERT_TRUE(CBigNumber::ModInverse(r, x, n, exists));
        Bn ba = ToBn(a), bm = ToBn(m);
        BIGNUM* inv = BN_mod_inverse(nullptr, ba.get(), bm.get(), m_ctx);
        ERR_clear_error();
        EXPECT_EQ(exists, inv != nullptr) << ToHex(a) << " mod " << ToHex(m);
        if (inv) {
            EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(inv)));
            ++inverses;
        }
        BN_free(inv);
    }
    EXPECT_GT(inverses, 10);
}

template <typename Word>
void CheckModExp(const Bytes& base, const Bytes& exponent, const Bytes& modulus, BN_CTX* ctx) {
    CBigNumber b, e, m, r;
    Set(b, base);
    Set(e, exponent);
    Set(m, modulus);
    CMontgomeryT<Word> mont;
    ASSERT_TRUE(mont.Init(m));
    ASSERT_TRUE(mont.Exp(r, b, e));
    Bn bb = ToBn(base), be = ToBn(exponent), bm = ToBn(modulus), br(BN_new());
    BN_mod_exp(br.get(), bb.get(), be.get(), bm.get(), ctx);
    EXPECT_EQ(ToHex(Value(r)), ToHex(FromBn(br.get())))
        << sizeof(Word) * 8 << "-bit words: " << ToHex(base) << " ^ " << ToHex(exponent) << " mod " << ToHex(modulus);
}

TEST_F(BigNumberArithmetic, MontgomeryExponentiationMatchesOpenSslForBothWordSizes) {
    for (int i = 0; i < 120; ++i) {
        Bytes modulus = RandomValue(i < 100 ? 70 : 260);
        modulus.back() |= 1;
        if (modulus.size() == 1 && modulus[0] == 1) modulus[0] = 3;
        const Bytes base = RandomValue(modulus.size() + 8);  // sometimes larger than the modulus
        const Bytes exponent = RandomValue(i % 3 == 0 ? 3 : modulus.size());
        CheckModExp<uint32_t>(base, exponent, modulus, m_ctx);
#if defined(__SIZEOF_INT128__)
        CheckModExp<uint64_t>(base, exponent, modulus, m_ctx);
#endif
    }
}

TEST_F(BigNumberArithmetic, ExponentsZeroAndOneAndAnEvenModulus) {
    CheckModExp<uint32_t>(Hex("1234"), Hex("00"), Hex("ffff"), m_ctx);
    CheckModExp<uint32_t>(Hex("1234"), Hex("01"), Hex("ffff"), m_ctx);
    CheckModExp<uint32_t>(Hex("123456"), Hex("01"), Hex("ffff"), m_ctx);
    CheckModExp<uint32_t>(Hex("1234"), Hex("00"), Hex("01"), m_ctx);
    CBigNumber even, r;
    Set(even, Hex("1000"));
    EXPECT_FALSE(CBigNumber::ModExp(r, even, even, even));
}

#if CORVANE_HAVE_ADX_ROW
TEST(BigNumberRows, TheTwoCarryChainRowMatchesThePortableRow) {
    if (!HasAdxRows()) GTEST_SKIP() << "no BMI2 and ADX on this processor";
    TestRandom rnd(17);
    // Random words, and in the last trial all ones, where every carry is at its largest.
    auto word = [&rnd](bool allOnes) {
        uint64_t v = ~uint64_t {0};
        if (!allOnes) {
            const Bytes b = rnd.Take(8);
            for (uint8_t byte : b) v = (v << 8) | byte;
        }
        return v;
    };
    for (size_t n = 0; n <= 37; ++n) {
        for (int trial = 0; trial < 4; ++trial) {
            std::vector<uint64_t> a(n), t(n), u;
            for (auto& v : a) v = word(trial == 3);
            for (auto& v : t) v = word(trial == 3);
            const uint64_t b = word(trial == 3);
            u = t;
            const uint64_t c1 = MulAddRowPortable<uint64_t>(t.data(), a.data(), b, n);
            const uint64_t c2 = CAdxRow::MulAddRow(u.data(), a.data(), b, n);
            EXPECT_EQ(c1, c2) << "length " << n;
            EXPECT_EQ(t, u) << "length " << n;
        }
    }
}
#endif

TEST(BigNumberWindow, WindowExponentFollowsTheExponentLength) {
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 0},   {5, 0},   {6, 1},    {23, 1},   {24, 2},  {80, 2},
                                                   {81, 3},  {240, 3}, {241, 4},  {672, 4},  {673, 5}, {1792, 5},
                                                   {1793, 6}, {4096, 6}};
    for (auto [bits, w] : cases) EXPECT_EQ(ExponentWindow(bits), w) << bits;
}

TEST(BigNumberBytes, ByteFormsAndDerIntegers) {
    CBigNumber v;
    Set(v, Hex("0000010001"));
    EXPECT_EQ(v.BitLength(), 17u);
    EXPECT_EQ(ToHex(Value(v)), "010001");
    uint8_t der[8];
    ASSERT_EQ(v.EncodeDerInteger(der), 5u);
    EXPECT_EQ(ToHex(der, 5), "0203010001");
    uint8_t small[2];
    EXPECT_FALSE(v.WriteBytes(small, 2));
    uint8_t padded[6];
    ASSERT_TRUE(v.WriteBytes(padded, 6));
    EXPECT_EQ(ToHex(padded, 6), "000000010001");
    // A value whose bit length is a multiple of 8 gets one leading zero byte.
    Set(v, Hex("80"));
    ASSERT_EQ(v.EncodeDerInteger(der), 4u);
    EXPECT_EQ(ToHex(der, 4), "02020080");
    CBigNumber zero;
    EXPECT_EQ(zero.EncodeDerInteger(nullptr), 3u);
}

TEST(BigNumberBytes, CapacityIsAlwaysEvenAndGrowingKeepsTheValue) {
    CBigNumber v;
    Set(v, Hex("0102030405"));
    EXPECT_EQ(v.Used(), 2u);
    EXPECT_EQ(v.Capacity() % 2, 0u);
    ASSERT_TRUE(v.Reserve(5));
    EXPECT_EQ(v.Capacity(), 6u);
    EXPECT_EQ(ToHex(Value(v)), "0102030405");
}

}  // namespace
}  // namespace corvane::test
