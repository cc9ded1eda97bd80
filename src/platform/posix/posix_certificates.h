// Certificates with OpenSSL: the trusted roots are the certificates of trust/*.pem, the NT
// authentication CAs those of ntauth/*.pem (which also serve as intermediates when a chain is
// built). Both folders are read at every chain build, so an administrator's change applies at once.
#pragma once

#include <string>

#include "platform/certificates.h"

namespace corvane::posix {

class PosixCertificates final : public ICertificates {
public:
    PosixCertificates(std::string trustDir, std::string ntAuthDir);

    uint32_t DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) override;
    uint32_t BuildChain(const DecodedCertificate& cert, FileTime at, CertChainResult& out) override;
    uint32_t GetCrlUrls(const DecodedCertificate& cert, std::vector<std::u16string>& urls) override;
    uint32_t VerifyCrlSignature(const std::vector<uint8_t>& crlDer, const DecodedCertificate& issuer) override;
    std::u16string NameToText(const std::vector<uint8_t>& nameDer) override;

private:
    std::string m_trustDir;
    std::string m_ntAuthDir;
};

}  // namespace corvane::posix
