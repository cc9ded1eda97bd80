// A certificate revocation list (X.509 v1 or v2 CertificateList, DER) read by the service itself:
// its issuer, validity, revoked serial numbers, and the signed part with its signature. The
// signature itself is checked by the platform's certificate library (crl_store.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace corvane {

struct DecodedCrl {
    std::vector<uint8_t> der;
    size_t tbsOffset = 0;           // the signed TBSCertList inside der
    size_t tbsLength = 0;
    std::string signatureAlgorithm; // dotted OID of the outer algorithm
    std::vector<uint8_t> signature; // the signature bits, big-endian
    std::vector<uint8_t> issuer;    // DER of the issuer name
    FileTime thisUpdate = 0;
    FileTime nextUpdate = 0;        // 0 when the list names none
    std::vector<std::vector<uint8_t>> revokedSerials;  // big-endian, without leading zero bytes
};

// False when the bytes are not one whole DER CertificateList.
bool DecodeCrl(const uint8_t* der, size_t size, DecodedCrl& out);

// CertVerifyCRLTimeValidity: 0 when thisUpdate <= at <= nextUpdate (no nextUpdate: no end),
// -1 before, 1 after.
int CrlTimeValidity(const DecodedCrl& crl, FileTime at);

// Whether the list names this serial number (big-endian, without leading zero bytes).
bool CrlListsSerial(const DecodedCrl& crl, const std::vector<uint8_t>& serial);

}  // namespace corvane
