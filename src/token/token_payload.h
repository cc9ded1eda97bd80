// Readers of the narrow strings in token operation data. Every reader checks the sub-length
// before it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

// One NUL-terminated string filling the data exactly: sub-length = string length + 1.
bool ReadTerminatedString(const uint8_t* data, size_t length, std::string_view& text);
// Two NUL-terminated strings filling the data exactly: sub-length = both lengths + 2.
bool ReadStringPair(const uint8_t* data, size_t length, std::string_view& first, std::string_view& second);

}  // namespace corvane
