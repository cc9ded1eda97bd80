#include "pki/device_key_proof.h"

#include <algorithm>
#include <vector>

#include "crypto/secure_zero.h"
#include "pki/alt_names.h"
#include "pki/certificate_upn.h"
#include "pki/pki_results.h"
#include "pki/rsa_signature.h"
#include "wire/result_codes.h"

namespace corvane {

uint32_t ReadContainerCertificate(ICspContainers& csp, std::u16string_view containerPath, uint32_t keySpec,
                                  std::vector<uint8_t>& cert) {
    cert.clear();
    CryptProvHandle prov = 0;
    if (uint32_t rc = csp.AcquireContext(prov, containerPath, kCompanionCspProvider, kProvRsaFull, kCryptSilent)) {
        return rc;
    }
    CryptKeyHandle key = 0;
    uint32_t rc = csp.GetUserKey(prov, keySpec, key);
    if (rc == 0) {
        rc = csp.GetKeyParam(key, kKpCertificate, cert);
        if (rc == 0 && cert.size() > kMaxKeyCertificate) rc = WinError::MoreData;
        csp.DestroyKey(key);
    }
    csp.ReleaseContext(prov);
    if (rc != 0) cert.clear();
    return rc;
}

namespace {

// Releases what a key proof acquired from the CSP, on every way out.
class CspHandles {
public:
    explicit CspHandles(ICspContainers& csp) : m_csp(csp) {}
    ~CspHandles() {
        if (hash) m_csp.DestroyHash(hash);
        if (key) m_csp.DestroyKey(key);
        if (prov) m_csp.ReleaseContext(prov);
    }
    CspHandles(const CspHandles&) = delete;
    CspHandles& operator=(const CspHandles&) = delete;

    CryptProvHandle prov = 0;
    CryptKeyHandle key = 0;
    CryptHashHandle hash = 0;

private:
    ICspContainers& m_csp;
};

}  // namespace

uint32_t CheckCertificateChain(ICertificates& certificates, IClock& clock, const DecodedCertificate& cert,
                               CertChainResult& chain) {
    if (uint32_t rc = certificates.BuildChain(cert, clock.GetSystemTimeAsFileTime(), chain)) return rc;
    if (chain.trustErrorStatus != 0) {
        return chain.trustErrorStatus == CertTrust::NotTimeValid ? PkiResult::CertExpired
                                                                 : PkiResult::PkinitClientFailure;
    }
    return chain.policyError;
}

uint32_t CDeviceKeyProof::CheckCertificate(const DecodedCertificate& cert, std::u16string_view upn) {
    if (cert.publicKeyAlgorithm != kOidRsa || !CertificateNameMatches(cert, upn)) return Result::CertificateDataError;
    CertChainResult chain;
    if (uint32_t rc = CheckCertificateChain(*m_platform.certificates, *m_platform.clock, cert, chain)) return rc;
    return m_crls.CheckRevocation(cert, chain);
}

uint32_t CDeviceKeyProof::SignChallenge(CryptProvHandle prov, uint32_t keySpec, const uint8_t* challenge,
                                        std::vector<uint8_t>& signature) {
    ICspContainers& csp = *m_platform.cspContainers;
    CspHandles handles(csp);
    if (uint32_t rc = csp.CreateHash(prov, kCalgSha1, handles.hash)) return rc;
    // The first 20 bytes of the challenge become the hash value, signed without an algorithm id.
    if (uint32_t rc = csp.SetHashParam(handles.hash, kHpHashVal, challenge)) return rc;
    if (uint32_t rc = csp.SignHash(handles.hash, keySpec, kCryptNoHashOid, signature)) return rc;
    if (signature.size() > kMaxSignatureSize) return WinError::MoreData;
    return 0;
}

uint32_t CDeviceKeyProof::VerifyDeviceKey(std::u16string_view containerPath, uint32_t keySpec,
                                          std::u16string_view upn, const uint8_t* cert, size_t certLength) {
    ICspContainers& csp = *m_platform.cspContainers;
    CspHandles handles(csp);
    if (uint32_t rc = csp.AcquireContext(handles.prov, containerPath, kCompanionCspProvider, kProvRsaFull, kCryptSilent)) {
        return rc;
    }
    if (uint32_t rc = csp.GetUserKey(handles.prov, keySpec, handles.key)) return rc;
    std::vector<uint8_t> keyCertificate;
    if (!cert) {
        if (uint32_t rc = csp.GetKeyParam(handles.key, kKpCertificate, keyCertificate)) return rc;
        cert = keyCertificate.data();
        certLength = keyCertificate.size();
    }

    DecodedCertificate decoded;
    if (m_platform.certificates->DecodeCertificate(cert, certLength, decoded) != 0) return Result::CertificateDataError;
    if (uint32_t rc = CheckCertificate(decoded, upn)) return rc;
    if (decoded.publicKey.size() > kMaxPublicKeySize) return WinError::MoreData;

    const uint8_t emptyPin[1] = {0};
    if (uint32_t rc = csp.SetKeyParam(handles.key, kKpKeyExchangePin, emptyPin)) return rc;

    // A fresh challenge from the operating system's CSPRNG: a predictable one could be signed in
    // advance by a device that held the key once.
    uint8_t challenge[kChallengeSize];
    if (uint32_t rc = m_platform.system->GenRandom(challenge, sizeof challenge)) return rc;
    std::vector<uint8_t> signature;
    if (uint32_t rc = SignChallenge(handles.prov, keySpec, challenge, signature)) return rc;

    // CryptoAPI hands the signature out least significant byte first.
    std::reverse(signature.begin(), signature.end());
    std::vector<uint8_t> block;
    if (uint32_t rc = RsaPublicBlock(decoded.publicKey, signature.data(), signature.size(), block)) return rc;
    const bool proved = IsPkcs1Type1Block(block, challenge, kSha1HashSize);
    SecureZero(challenge, sizeof challenge);
    return proved ? 0 : Result::DeviceSignatureError;
}

}  // namespace corvane
