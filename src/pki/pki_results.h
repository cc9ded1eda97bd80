// The security codes the certificate checks answer with, beside the service's own
// (0x20000001-0x20000004) and the Windows errors of the calls they make.
#pragma once

#include <cstdint>

#include "wire/result_codes.h"

namespace corvane::PkiResult {

constexpr uint32_t CertRevoked = 0x80090351;        // SEC_E_SMARTCARD_CERT_REVOKED
constexpr uint32_t CertWrongUsage = 0x80090349;     // SEC_E_CERT_WRONG_USAGE: distribution points unreadable
constexpr uint32_t PkinitClientFailure = 0x80090354;  // SEC_E_PKINIT_CLIENT_FAILURE: chain not trusted
constexpr uint32_t CertExpired = 0x80090355;        // SEC_E_SMARTCARD_CERT_EXPIRED
constexpr uint32_t NteFail = Result::NteFail;
constexpr uint32_t CryptExists = 0x80092005;        // CRYPT_E_EXISTS

}  // namespace corvane::PkiResult
