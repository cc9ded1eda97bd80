#include "pki/crl_store.h"

#include <algorithm>

namespace corvane {

CrlIssuerCheck CheckCrlIssuer(ICertificates* certificates, const DecodedCrl& crl, const DecodedCertificate& issuer,
                              uint32_t* error) {
    if (!certificates || crl.issuer != issuer.subject) return CrlIssuerCheck::NotIssued;
    const uint32_t rc = certificates->VerifyCrlSignature(crl.der, issuer);
    if (rc == 0) return CrlIssuerCheck::Issued;
    if (rc == CertError::NteBadSignature) return CrlIssuerCheck::NotIssued;
    if (error) *error = rc;
    return CrlIssuerCheck::Unverifiable;
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
        if (existing->thisUpdate >= shared->thisUpdate && IsIssuedBy(*existing, issuer)) return false;
    }
    std::erase_if(m_crls, [&](const auto& existing) { return IsIssuedBy(*existing, issuer); });
    m_crls.push_back(std::move(shared));
    return true;
}

std::vector<std::shared_ptr<const DecodedCrl>> CCrlStore::FindIssuedBy(
    const DecodedCertificate& issuer, std::vector<UnverifiableCrl>* unverifiable) const {
    std::vector<std::shared_ptr<const DecodedCrl>> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        snapshot = m_crls;
    }
    std::vector<std::shared_ptr<const DecodedCrl>> found;
    for (auto& crl : snapshot) {
        uint32_t error = 0;
        switch (CheckCrlIssuer(m_pCertificates, *crl, issuer, &error)) {
        case CrlIssuerCheck::Issued: found.push_back(std::move(crl)); break;
        case CrlIssuerCheck::Unverifiable:
            if (unverifiable) unverifiable->push_back({std::move(crl), error});
            break;
        case CrlIssuerCheck::NotIssued: break;
        }
    }
    return found;
}

size_t CCrlStore::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_crls.size();
}

}  // namespace corvane
