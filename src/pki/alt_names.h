// The entries of a subject alternative name extension (GeneralNames), in their order, the way the
// certificate decoder hands them out: a type (CERT_ALT_NAME_* = the context tag + 1) and, for an
// other-name, its OID and the encoded value inside the explicit tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* kOidSubjectAltName = "2.5.29.17";
inline constexpr const char* kOidUserPrincipalName = "1.3.6.1.4.1.311.20.2.3";
inline constexpr const char* kOidRsa = "1.2.840.113549.1.1.1";

constexpr uint32_t kAltNameOtherName = 1;  // CERT_ALT_NAME_OTHER_NAME
// The room the decoded form of one extension may take; an extension that needs more is skipped.
constexpr size_t kAltNameDecodeRoom = 4096;

struct AltNameEntry {
    uint32_t type = 0;
    std::string otherNameOid;            // other-name only
    const uint8_t* value = nullptr;      // other-name: the value's whole encoding
    size_t valueLength = 0;
};

// Decodes the extension's value; false when it is not GeneralNames or its decoded form does not
// fit the room. The entries point into `der`.
bool DecodeAltNames(const uint8_t* der, size_t size, std::vector<AltNameEntry>& entries);

// The longest principal name a caller keeps, in UTF-16 code units, without its NUL.
constexpr size_t kMaxUpnChars = 1023;

// The text of a DER UTF8String (short or long length form) as UTF-16; nothing when the value is
// no UTF8String, holds a NUL or is longer than kMaxUpnChars.
std::optional<std::u16string> DecodeUtf8StringValue(const uint8_t* der, size_t size);

}  // namespace corvane
