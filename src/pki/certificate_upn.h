// The user principal name a device certificate names: the other-name 1.3.6.1.4.1.311.20.2.3 of
// its subject alternative name, a UTF8String.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/certificates.h"

namespace corvane {

// The first principal-name other-name of any subject alternative name extension, past entries
// of other kinds: 0 and the name, 0x20000003 when the bytes are no certificate, 0x20000004 when
// it names no principal.
uint32_t GetCertificateUpn(ICertificates& certificates, const uint8_t* der, size_t size, std::u16string& upn);
// The same for a decoded certificate (never 0x20000003).
uint32_t FindCertificateUpn(const DecodedCertificate& cert, std::u16string& upn);
// The name, or an empty text when there is none or the bytes are no certificate.
std::u16string GetCertificateUpnText(ICertificates& certificates, const uint8_t* der, size_t size);

// The longest name the name match compares, in UTF-16 code units.
constexpr size_t kMaxMatchedUpnChars = 511;

// The stricter rule of the key proof: the first other-name of the first subject alternative name
// extension is a principal name equal to `upn` ignoring case. Names longer than
// kMaxMatchedUpnChars never match.
bool CertificateNameMatches(const DecodedCertificate& cert, std::u16string_view upn);

}  // namespace corvane
