// The CRLs the service holds in memory for the whole process (one store, created at first use,
// owned by the CRL cache). A list only counts for a certificate when its signature verifies
// against the key of the certificate's issuer, so a forged list beside a genuine one changes
// nothing: lists are kept side by side, never one replacing another of the same issuer name.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "pki/crl_decoder.h"
#include "platform/certificates.h"

namespace corvane {

// Whether the list names `issuer` as its issuer and carries its signature.
bool IsCrlIssuedBy(const DecodedCrl& crl, const DecodedCertificate& issuer);

class CCrlStore {
public:
    // A list read from a file: an identical copy is replaced, any other list is added.
    void AddReplaceExisting(DecodedCrl crl);
    // A downloaded list already checked against its issuer: false (nothing added) when the store
    // holds the same or a newer list of that issuer; otherwise added, and older lists of the
    // issuer are dropped.
    bool AddNewer(DecodedCrl crl, const DecodedCertificate& issuer);
    // The lists `issuer` signed for certificates it issued.
    std::vector<std::shared_ptr<const DecodedCrl>> FindIssuedBy(const DecodedCertificate& issuer) const;
    size_t Count() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<const DecodedCrl>> m_crls;
};

}  // namespace corvane
