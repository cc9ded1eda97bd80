#include "crypto/rsa_blinding.h"

#include "crypto/rsa_key.h"

namespace corvane {

bool CRsaBlinding::Next(const CRSA& key, const RandomSource& random, CBigNumber& a, CBigNumber& aInverse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    bool ok = false;
    if (m_nUses == 0 || m_nUses >= kUsesPerPair || CBigNumber::Compare(m_bnModulus, key.m_bnN) != 0) {
        ok = key.DrawBlinding(random, m_bnA, m_bnAInverse) && m_bnModulus.CopyFrom(key.m_bnN);
        m_nUses = 0;
    } else {
        ok = key.MulModN(m_bnA, m_bnA, m_bnA) && key.MulModN(m_bnAInverse, m_bnAInverse, m_bnAInverse);
    }
    ok = ok && a.CopyFrom(m_bnA) && aInverse.CopyFrom(m_bnAInverse);
    m_nUses = ok ? m_nUses + 1 : 0;
    return ok;
}

}  // namespace corvane
