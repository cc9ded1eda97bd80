#include "crypto/rsa_key.h"

#include <vector>

#include "crypto/crypto_status.h"
#include "crypto/rsa_blinding.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {
// Prepares a Montgomery context for an odd modulus; an unusable modulus is not an error here.
bool PrepareModulus(CMontgomery& mont, const CBigNumber& modulus) {
    if (!modulus.IsOdd()) return true;
    return mont.Init(modulus);
}
}  // namespace

bool CRSA::Prepare() {
    if (!PrepareModulus(m_montN, m_bnN)) return false;
    if (m_bHasCrt) {
        if (!PrepareModulus(m_montP, m_bnP) || !PrepareModulus(m_montQ, m_bnQ)) return false;
    }
    return true;
}

int32_t CRSA::Public(const uint8_t* in, uint32_t length, uint8_t* out) const {
    if (!m_bHasPublic) return CryptoStatus::KeyPartMissing;
    if (length != m_bnN.ByteLength()) return CryptoStatus::RsaBadLength;
    CBigNumber x, y;
    if (!x.SetBytes(in, length)) return CryptoStatus::RsaPublicFailed;
    if (CBigNumber::Compare(x, m_bnN) >= 0) return CryptoStatus::RsaInputTooLarge;
    if (!m_montN.Exp(y, x, m_bnE)) return CryptoStatus::RsaPublicFailed;
    return y.WriteBytes(out, length) ? CryptoStatus::Ok : CryptoStatus::RsaPublicFailed;
}

int32_t CRSA::PrivateCrt(const CBigNumber& x, CBigNumber& m) const {
    // m1 = (x mod p)^dP mod p, m2 = (x mod q)^dQ mod q, h = qInv (m1 - m2) mod p, m = m2 + h q.
    CBigNumber xp, xq, m1, m2, m2p, diff, h, hq;
    if (!CBigNumber::Mod(xp, x, m_bnP) || !CBigNumber::Mod(xq, x, m_bnQ)) return CryptoStatus::InternalFailure;
    if (!m_montP.Exp(m1, xp, m_bnDP) || !m_montQ.Exp(m2, xq, m_bnDQ)) return CryptoStatus::InternalFailure;
    // m1 - m2 taken modulo p. With p > q (as generated) m2 < p already; reducing m2 first keeps the
    // difference right for imported keys whose q is the larger prime.
    if (!CBigNumber::Mod(m2p, m2, m_bnP)) return CryptoStatus::InternalFailure;
    if (CBigNumber::Compare(m1, m2p) < 0 && !CBigNumber::Add(m1, m1, m_bnP)) return CryptoStatus::InternalFailure;
    bool negative = false;
    if (!CBigNumber::SubAbs(diff, m1, m2p, negative)) return CryptoStatus::InternalFailure;
    if (!CBigNumber::Mul(h, m_bnQInv, diff) || !CBigNumber::Mod(h, h, m_bnP)) return CryptoStatus::InternalFailure;
    if (!CBigNumber::Mul(hq, h, m_bnQ) || !CBigNumber::Add(m, m2, hq)) return CryptoStatus::InternalFailure;
    return CryptoStatus::Ok;
}

int32_t CRSA::Private(const uint8_t* in, uint32_t length, uint8_t* out) const {
    return PrivateOperation(in, length, out, nullptr);
}

int32_t CRSA::PrivateBlinded(const uint8_t* in, uint32_t length, uint8_t* out, const RandomSource& random) const {
    const BlindingFactors fresh = [&](CBigNumber& a, CBigNumber& aInverse) { return DrawBlinding(random, a, aInverse); };
    return PrivateOperation(in, length, out, &fresh);
}

int32_t CRSA::PrivateBlinded(const uint8_t* in, uint32_t length, uint8_t* out, const RandomSource& random,
                             CRsaBlinding& blinding) const {
    const BlindingFactors kept = [&](CBigNumber& a, CBigNumber& aInverse) {
        return blinding.Next(*this, random, a, aInverse);
    };
    return PrivateOperation(in, length, out, &kept);
}

int32_t CRSA::PrivateNumber(const CBigNumber& x, CBigNumber& m, int32_t failed) const {
    if (m_bHasCrt) {
        if (!m_montP.IsReady() || !m_montQ.IsReady()) return CryptoStatus::InternalFailure;
        return PrivateCrt(x, m);
    }
    return m_montN.Exp(m, x, m_bnD) ? CryptoStatus::Ok : failed;
}

bool CRSA::DrawBlinding(const RandomSource& random, CBigNumber& a, CBigNumber& aInverse) const {
    if (!random || !m_bHasPublic || m_bnE.IsZero() || !m_montN.IsReady()) return false;
    // Eight bytes more than the modulus, so that r mod n is as good as uniform.
    const size_t size = m_bnN.ByteLength() + 8;
    std::vector<uint8_t> bytes(size);
    CBigNumber raw, r;
    bool found = false;
    for (int draw = 0; draw < 8 && !found; ++draw) {
        if (random(bytes.data(), size) != 0) break;
        bool exists = false;
        if (!raw.SetBytes(bytes.data(), size) || !CBigNumber::Mod(r, raw, m_bnN)) break;
        if (r.IsZero() || r.IsOne()) continue;
        if (!CBigNumber::ModInverse(aInverse, r, m_bnN, exists)) break;
        found = exists;
    }
    SecureZero(bytes.data(), size);
    return found && m_montN.Exp(a, r, m_bnE);
}

int32_t CRSA::PrivateOperation(const uint8_t* in, uint32_t length, uint8_t* out,
                               const BlindingFactors* blinding) const {
    if (length != m_bnN.ByteLength()) return CryptoStatus::RsaBadLength;
    if (!m_bHasCrt && !m_bHasPrivate) return CryptoStatus::KeyPartMissing;
    const int32_t failed = m_bHasCrt ? CryptoStatus::InternalFailure : CryptoStatus::RsaPrivateFailed;
    CBigNumber x, m;
    if (!x.SetBytes(in, length)) return failed;
    if (CBigNumber::Compare(x, m_bnN) >= 0) return CryptoStatus::RsaInputTooLarge;
    if (blinding == nullptr) {
        if (int32_t rc = PrivateNumber(x, m, failed)) return rc;
    } else {
        // With a = r^e and aInverse = r^-1: x' = x a mod n; x'^d = x^d r mod n; m = x'^d aInverse.
        CBigNumber a, aInverse, blinded, unblinded;
        if (!(*blinding)(a, aInverse)) return failed;
        if (!m_montN.MulMod(blinded, x, a)) return failed;
        if (int32_t rc = PrivateNumber(blinded, unblinded, failed)) return rc;
        if (!m_montN.MulMod(m, unblinded, aInverse)) return failed;
    }
    // A key whose CRT numbers do not belong to its modulus can give a value that does not fit.
    return m.WriteBytes(out, length) ? CryptoStatus::Ok : CryptoStatus::InternalFailure;
}

}  // namespace corvane
