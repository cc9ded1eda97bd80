#include "pki/certificate_upn.h"

#include <vector>

#include "pki/alt_names.h"
#include "platform/text.h"
#include "wire/result_codes.h"

namespace corvane {

uint32_t FindCertificateUpn(const DecodedCertificate& cert, std::u16string& upn) {
    upn.clear();
    std::vector<AltNameEntry> entries;
    for (const CertExtension& extension : cert.extensions) {
        if (extension.oid != kOidSubjectAltName) continue;
        // An extension that does not decode into the room is skipped.
        if (!DecodeAltNames(extension.value.data(), extension.value.size(), entries)) continue;
        for (const AltNameEntry& entry : entries) {
            if (entry.type != kAltNameOtherName || entry.otherNameOid != kOidUserPrincipalName) continue;
            if (auto name = DecodeUtf8StringValue(entry.value, entry.valueLength)) {
                upn = std::move(*name);
                return 0;
            }
        }
    }
    return Result::CertificateNoPrincipalName;
}

uint32_t GetCertificateUpn(ICertificates& certificates, const uint8_t* der, size_t size, std::u16string& upn) {
    upn.clear();
    DecodedCertificate cert;
    if (certificates.DecodeCertificate(der, size, cert) != 0) return Result::CertificateDataError;
    return FindCertificateUpn(cert, upn);
}

std::u16string GetCertificateUpnText(ICertificates& certificates, const uint8_t* der, size_t size) {
    std::u16string upn;
    GetCertificateUpn(certificates, der, size, upn);
    return upn;
}

bool CertificateNameMatches(const DecodedCertificate& cert, std::u16string_view upn) {
    if (upn.empty() || upn.size() > kMaxMatchedUpnChars) return false;
    for (const CertExtension& extension : cert.extensions) {
        if (extension.oid != kOidSubjectAltName) continue;
        std::vector<AltNameEntry> entries;
        if (!DecodeAltNames(extension.value.data(), extension.value.size(), entries)) return false;
        for (const AltNameEntry& entry : entries) {
            if (entry.type != kAltNameOtherName) continue;
            // Only the first other-name counts.
            if (entry.otherNameOid != kOidUserPrincipalName) return false;
            const auto name = DecodeUtf8StringValue(entry.value, entry.valueLength);
            return name && name->size() <= kMaxMatchedUpnChars && EqualsNoCase(*name, upn);
        }
        return false;
    }
    return false;
}

}  // namespace corvane
