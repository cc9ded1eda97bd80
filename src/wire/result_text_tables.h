// The three tables of texts (English, simplified and traditional Chinese): the same 32
// identifiers in the same order in each.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "wire/result_text.h"

namespace corvane {

struct TextEntry {
    uint32_t nId;
    std::u16string_view strText;
};

inline constexpr size_t kTextTableSize = 32;

std::span<const TextEntry> TextTable(TextLanguage language);

}  // namespace corvane
