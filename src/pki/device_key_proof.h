// The key proof of a device: before a session is logged off, locked or disconnected on a
// device's behalf, its certificate must name the user, chain to a trusted root for client or
// server authentication under the NT authentication rule, not be revoked, and the device must
// sign a fresh random challenge through the companion CSP with the certificate's key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pki/crl_cache.h"
#include "platform/platform.h"

namespace corvane {

inline constexpr size_t kChallengeSize = 128;
inline constexpr size_t kMaxPublicKeySize = 1024;
inline constexpr size_t kMaxSignatureSize = 512;
inline constexpr size_t kSha1HashSize = 20;
// The longest certificate the service reads from a key.
inline constexpr size_t kMaxKeyCertificate = 65536;

// The certificate stored with the key `keySpec` of a companion CSP container: acquire the
// container, take the key, read KP_CERTIFICATE, release. 0, the failing call's error, or 234
// when the certificate is longer than the service reads.
uint32_t ReadContainerCertificate(ICspContainers& csp, std::u16string_view containerPath, uint32_t keySpec,
                                  std::vector<uint8_t>& cert);

// The chain of a certificate: 0 and the chain, 0x80090355 when the only fault is the time,
// 0x80090354 for another trust fault, the NT authentication rule's error as it is, or the error
// of a call that failed.
uint32_t CheckCertificateChain(ICertificates& certificates, IClock& clock, const DecodedCertificate& cert,
                               CertChainResult& chain);

class CDeviceKeyProof {
public:
    CDeviceKeyProof(Platform& platform, CCrlCache& crls) : m_platform(platform), m_crls(crls) {}

    // 0 when the device proved it holds the key of a valid certificate naming `upn`; otherwise
    // the first failure's code. Without `cert` the certificate is read from the key.
    uint32_t VerifyDeviceKey(std::u16string_view containerPath, uint32_t keySpec, std::u16string_view upn,
                             const uint8_t* cert, size_t certLength);

private:
    uint32_t CheckCertificate(const DecodedCertificate& cert, std::u16string_view upn);
    uint32_t SignChallenge(CryptProvHandle prov, uint32_t keySpec, const uint8_t* challenge,
                           std::vector<uint8_t>& signature);

    Platform& m_platform;
    CCrlCache& m_crls;
};

}  // namespace corvane
