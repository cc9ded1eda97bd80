// Certificates with CryptoAPI: decoding, the local machine's chain engine for client or server
// authentication with the NT authentication policy, the CRL distribution point URLs, and CRL
// signatures checked with the issuer's key.
#pragma once

#include "platform/certificates.h"

namespace corvane::win32 {

class Win32Certificates final : public ICertificates {
public:
    uint32_t DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) override;
    uint32_t BuildChain(const DecodedCertificate& cert, FileTime at, CertChainResult& out) override;
    uint32_t GetCrlUrls(const DecodedCertificate& cert, std::vector<std::u16string>& urls) override;
    uint32_t VerifyCrlSignature(const std::vector<uint8_t>& crlDer, const DecodedCertificate& issuer) override;
    std::u16string NameToText(const std::vector<uint8_t>& nameDer) override;
};

// CRL retrieval by URL (CryptRetrieveObjectByUrlW), from the network or the system's URL cache.
class Win32CrlRetriever final : public ICrlRetriever {
public:
    uint32_t RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs, std::vector<uint8_t>& der) override;
};

}  // namespace corvane::win32
