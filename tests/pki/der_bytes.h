// DER built by hand for certificates no ordinary tool makes: tag-length-value with the short or
// the long length form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/rsa_test_util.h"

namespace corvane::test {

inline std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& value, bool longForm = false) {
    if (!longForm || value.size() >= 0x80) return DerElement(tag, value);
    std::vector<uint8_t> out {tag, 0x81, static_cast<uint8_t>(value.size())};
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

inline std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// 1.3.6.1.4.1.311.20.2.3
inline const std::vector<uint8_t> kUpnOid = {0x06, 0x0a, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x14, 0x02, 0x03};

// An other-name entry [0] { OID, [0] { value } } with the principal-name OID.
inline std::vector<uint8_t> UpnOtherName(const std::vector<uint8_t>& encodedValue) {
    return Tlv(0xA0, Concat({kUpnOid, Tlv(0xA0, encodedValue)}));
}

inline std::vector<uint8_t> DnsName(const std::string& name) { return Tlv(0x82, Text(name)); }

// GeneralNames: the SEQUENCE around the entries.
inline std::vector<uint8_t> GeneralNames(std::initializer_list<std::vector<uint8_t>> entries) {
    return Tlv(0x30, Concat(entries));
}

}  // namespace corvane::test
