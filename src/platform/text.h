// UTF-8 / UTF-16 conversions and case-insensitive comparison. The service keeps text as UTF-16
// (std::u16string) and speaks UTF-8 on every wire. The converters never read past the given
// length, stop at the first NUL when asked to, and replace malformed sequences with U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Converts a fixed-size UTF-8 slot: up to the first NUL inside the slot, or the whole slot when
// it holds no NUL (a full slot is unterminated).
std::u16string Utf8SlotToUtf16(const uint8_t* slot, size_t slotSize);

// Plain ASCII/Latin conversions for literals and log text.
std::u16string AsciiToUtf16(std::string_view ascii);

// Case-insensitive equality as Windows compares names (simple case folding of the BMP letters
// that matter for user, domain and container names).
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
char16_t ToUpper16(char16_t c);
std::u16string ToUpper(std::u16string_view s);

// printf-style formatting into UTF-8 and UTF-16 (arguments are narrow; use Utf16ToUtf8 first).
std::string FormatUtf8(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace corvane
