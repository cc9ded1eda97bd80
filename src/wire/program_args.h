// What every program of the product shares on its command line: checked numbers (whole words,
// range-limited, no exceptions), the help and version words, and the version text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

inline constexpr std::string_view kProductVersion = "1.0.0";

// Exit codes of the command-line tools: success, a failure while working, bad use.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A whole word as a number within [min, max]: decimal with an optional '-' (only when min is
// negative), or 0x-prefixed hexadecimal. Nothing else is accepted: no blanks, no '+', no
// trailing text, nothing out of range. Never throws.
std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max);

enum class ProgramWord { None, Help, Version };

// Whether the whole argument list (after the program name) is a help or version request:
// "--help", "-h", "/?" or "--version". A word among others is not.
ProgramWord HelpOrVersionWord(int argc, const char* const* argv);

}  // namespace corvane
