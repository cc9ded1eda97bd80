// The CRLs the service holds in memory for the whole process (one store, created at first use,
// owned by the CRL cache). A list only counts for a certificate when its signature verifies
// against the key of the certificate's issuer, so a forged list beside a genuine one changes
// nothing: lists are kept side by side, never one replacing another of the same issuer name.
// Signatures are checked by the platform's certificate library, which knows every algorithm a CA
// may sign with (RSA PKCS#1 v1.5 and PSS, ECDSA, keys of any length).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "pki/crl_decoder.h"
#include "platform/certificates.h"

namespace corvane {

// How a list stands against a CA certificate.
enum class CrlIssuerCheck {
    NotIssued,     // another issuer name, or a signature that does not verify with the CA's key
    Issued,        // the CA's name and its signature
    Unverifiable,  // the CA's name, but the library cannot check the signature (the error is kept)
};

// Whether the list names `issuer` as its issuer and carries its signature; `error` receives the
// library's error when the answer is Unverifiable. Without a certificate library nothing is issued.
CrlIssuerCheck CheckCrlIssuer(ICertificates* certificates, const DecodedCrl& crl, const DecodedCertificate& issuer,
                              uint32_t* error = nullptr);

// A list with the CA's name whose signature the library cannot check, with the library's error.
struct UnverifiableCrl {
    std::shared_ptr<const DecodedCrl> crl;
    uint32_t error = 0;
};

class CCrlStore {
public:
    explicit CCrlStore(ICertificates* certificates) : m_pCertificates(certificates) {}

    // A list read from a file: an identical copy is replaced, any other list is added.
    void AddReplaceExisting(DecodedCrl crl);
    // A downloaded list already checked against its issuer: false (nothing added) when the store
    // holds the same or a newer list of that issuer; otherwise added, and older lists of the
    // issuer are dropped.
    bool AddNewer(DecodedCrl crl, const DecodedCertificate& issuer);
    // The lists `issuer` signed for certificates it issued. Lists with its name whose signature
    // the library cannot check are left out and, when asked for, handed back in `unverifiable`.
    std::vector<std::shared_ptr<const DecodedCrl>> FindIssuedBy(
        const DecodedCertificate& issuer, std::vector<UnverifiableCrl>* unverifiable = nullptr) const;
    size_t Count() const;

private:
    bool IsIssuedBy(const DecodedCrl& crl, const DecodedCertificate& issuer) const {
        return CheckCrlIssuer(m_pCertificates, crl, issuer) == CrlIssuerCheck::Issued;
    }

    ICertificates* m_pCertificates;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<const DecodedCrl>> m_crls;
};

}  // namespace corvane
