#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::ctl {

// Decimal or 0x-prefixed hexadecimal, as sc.exe and reg.exe accept numbers.
std::optional<uint32_t> ParseNumber(const std::string& text);

}  // namespace corvane::ctl
