#include "pki/crl_store.h"

#include <algorithm>

#include "pki/alt_names.h"
#include "pki/rsa_signature.h"

namespace corvane {

bool IsCrlIssuedBy(const DecodedCrl& crl, const DecodedCertificate& issuer) {
    if (crl.issuer != issuer.subject || issuer.publicKeyAlgorithm != kOidRsa) return false;
    return VerifyRsaSignature(crl.signatureAlgorithm, crl.der.data() + crl.tbsOffset, crl.tbsLength, crl.signature,
                              issuer.publicKey);
}

void CCrlStore::AddReplaceExisting(DecodedCrl crl) {
    auto shared = std::make_shared<const DecodedCrl>(std::move(crl));
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& existing : m_crls) {
        if (existing->der == shared->der) {
            existing = shared;
            return;
        }
    }
    m_crls.push_back(std::move(shared));
}

bool CCrlStore::AddNewer(DecodedCrl crl, const DecodedCertificate& issuer) {
    auto shared = std::make_shared<const DecodedCrl>(std::move(crl));
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& existing : m_crls) {
        if (existing->der == shared->der) return false;
        if (existing->thisUpdate >= shared->thisUpdate && IsCrlIssuedBy(*existing, issuer)) return false;
    }
    std::erase_if(m_crls, [&](const auto& existing) { return IsCrlIssuedBy(*existing, issuer); });
    m_crls.push_back(std::move(shared));
    return true;
}

std::vector<std::shared_ptr<const DecodedCrl>> CCrlStore::FindIssuedBy(const DecodedCertificate& issuer) const {
    std::vector<std::shared_ptr<const DecodedCrl>> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        snapshot = m_crls;
    }
    std::vector<std::shared_ptr<const DecodedCrl>> found;
    for (auto& crl : snapshot) {
        if (IsCrlIssuedBy(*crl, issuer)) found.push_back(std::move(crl));
    }
    return found;
}

size_t CCrlStore::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_crls.size();
}

}  // namespace corvane
