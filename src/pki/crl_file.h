// The content of a CRL file as an administrator or the cache leaves it: DER, or Base64 text with
// or without PEM header lines, as 8-bit or UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "pki/crl_decoder.h"

namespace corvane {

// The bytes of Base64 text: lines starting with "-----" (PEM headers) and white space are passed
// over; anything else that is not Base64 makes the whole undecodable.
std::optional<std::vector<uint8_t>> DecodeBase64Text(std::string_view text);

// Decodes a file's bytes: as DER first, then as Base64 read as UTF-16 text, then as Base64 read
// as 8-bit text.
bool DecodeCrlFile(const uint8_t* data, size_t size, DecodedCrl& out);

}  // namespace corvane
