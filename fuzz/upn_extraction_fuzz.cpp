// The principal name of a certificate: whatever the bytes, as a certificate or as the value of a
// subject alternative name extension, the extraction stays within them, and a name it finds is
// never longer than a caller keeps and never holds a NUL.
//
// Input: the bytes, tried both as a DER certificate and as an extension value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pki/alt_names.h"
#include "pki/certificate_upn.h"
#include "platform/posix/posix_certificates.h"

namespace {

using namespace corvane;

void CheckName(const std::u16string& upn) {
    if (upn.size() > kMaxUpnChars || upn.find(u'\0') != std::u16string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static posix::PosixCertificates certificates("/nonexistent", "/nonexistent");
    const std::vector<uint8_t> bytes(data, data + size);  // exactly sized, so overreads are caught

    std::u16string upn;
    const uint32_t rc = GetCertificateUpn(certificates, bytes.data(), bytes.size(), upn);
    if (rc != 0 && !upn.empty()) std::abort();
    CheckName(upn);

    std::vector<AltNameEntry> entries;
    if (DecodeAltNames(bytes.data(), bytes.size(), entries)) {
        DecodedCertificate cert;
        cert.extensions.push_back({kOidSubjectAltName, false, bytes});
        FindCertificateUpn(cert, upn);
        CheckName(upn);
        CertificateNameMatches(cert, u"alice@corp.example");
        for (const AltNameEntry& entry : entries) {
            if (entry.value && (entry.value < bytes.data() || entry.value + entry.valueLength > bytes.data() + bytes.size())) {
                std::abort();
            }
        }
    }
    return 0;
}
