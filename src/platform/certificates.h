// X.509 certificates through the platform: decoding a DER certificate into the fields the key
// proof and the revocation check read, building its chain for the client or server
// authentication purpose with the NT authentication rule, reading its CRL distribution point
// URLs, and checking a CRL's signature with its issuer's key (any algorithm the platform's
// certificate library knows: RSA PKCS#1 v1.5 and PSS, ECDSA, keys of any length). Windows makes the CryptoAPI calls; POSIX uses OpenSSL with the trusted roots in
// $CORVANE_ROOT/etc/corvane/trust/*.pem and the NT authentication CAs in
// $CORVANE_ROOT/etc/corvane/ntauth/*.pem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace corvane {

// CERT_TRUST_* error bits of a chain.
namespace CertTrust {
constexpr uint32_t NotTimeValid = 0x00000001;
constexpr uint32_t Revoked = 0x00000004;
constexpr uint32_t NotSignatureValid = 0x00000008;
constexpr uint32_t NotValidForUsage = 0x00000010;
constexpr uint32_t UntrustedRoot = 0x00000020;
constexpr uint32_t InvalidExtension = 0x00000100;
constexpr uint32_t PartialChain = 0x00010000;
}  // namespace CertTrust

// Errors of the certificate functions.
namespace CertError {
constexpr uint32_t CryptAsn1BadTag = 0x8009310B;   // CRYPT_E_ASN1_BADTAG: not a certificate
constexpr uint32_t CryptNotFound = 0x80092004;     // CRYPT_E_NOT_FOUND: no such object
constexpr uint32_t CertUntrustedCa = 0x800B0112;   // CERT_E_UNTRUSTEDCA: the NT authentication rule failed
constexpr uint32_t CertUntrustedRoot = 0x800B0109; // CERT_E_UNTRUSTEDROOT
constexpr uint32_t NteBadSignature = 0x80090006;   // NTE_BAD_SIGNATURE: the signature does not verify
constexpr uint32_t NteBadAlgId = 0x80090008;       // NTE_BAD_ALGID: an algorithm the library does not know
}  // namespace CertError

struct CertExtension {
    std::string oid;              // dotted text, e.g. "2.5.29.17"
    bool critical = false;
    std::vector<uint8_t> value;   // the DER value inside the extension's OCTET STRING
};

struct DecodedCertificate {
    std::vector<uint8_t> der;
    std::vector<uint8_t> serial;          // big-endian, without leading zero bytes
    std::vector<uint8_t> issuer;          // DER of the issuer name
    std::vector<uint8_t> subject;         // DER of the subject name
    std::string publicKeyAlgorithm;       // dotted OID
    std::vector<uint8_t> publicKey;       // the bits of the subject public key (RSAPublicKey DER for RSA)
    std::vector<CertExtension> extensions;  // in the certificate's order
};

struct CertChainResult {
    uint32_t trustErrorStatus = 0;  // CertTrust bits of the whole chain
    uint32_t policyError = 0;       // error of the NT authentication rule; checked only for a trusted chain
    std::vector<std::vector<uint8_t>> elements;  // DER of the first simple chain, the certificate first
    bool hasSimpleChain = false;
};

class ICertificates {
public:
    virtual ~ICertificates() = default;
    // CertCreateCertificateContext (X509_ASN_ENCODING): 0 or the decoding error.
    virtual uint32_t DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) = 0;
    // CertGetCertificateChain (local machine engine, at the given time, client or server
    // authentication) and, for a trusted chain, CertVerifyCertificateChainPolicy with the NT
    // authentication policy. 0 with the result, or the error of a call that failed.
    virtual uint32_t BuildChain(const DecodedCertificate& cert, FileTime at, CertChainResult& out) = 0;
    // CryptGetObjectUrl (CRL distribution points, from the extension): 0 with the URLs, or the
    // error when the certificate names none.
    virtual uint32_t GetCrlUrls(const DecodedCertificate& cert, std::vector<std::u16string>& urls) = 0;
    // CryptVerifyCertificateSignatureEx for a CRL (DER) with the public key of `issuer`: 0 when
    // the signature verifies, NTE_BAD_SIGNATURE when it does not, and another error when the
    // library cannot check it (a signature or key algorithm it does not know, a list or key that
    // does not decode).
    virtual uint32_t VerifyCrlSignature(const std::vector<uint8_t>& crlDer, const DecodedCertificate& issuer) = 0;
    // A DER name as text ("CN=..., O=..."), in the order of its encoding; empty when it does not
    // decode.
    virtual std::u16string NameToText(const std::vector<uint8_t>& nameDer) = 0;
};

// CRL retrieval by URL (CryptRetrieveObjectByUrlW for a CRL object).
namespace CrlRetrieval {
constexpr uint32_t WireOnly = 0x00000004;   // CRYPT_WIRE_ONLY_RETRIEVAL
constexpr uint32_t CacheOnly = 0x00000002;  // CRYPT_CACHE_ONLY_RETRIEVAL
}  // namespace CrlRetrieval

class ICrlRetriever {
public:
    virtual ~ICrlRetriever() = default;
    // Fetches the object at the URL within timeoutMs: 0 with its bytes (DER as served), or an error.
    virtual uint32_t RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs,
                                 std::vector<uint8_t>& der) = 0;
};

}  // namespace corvane
