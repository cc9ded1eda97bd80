#include "wire/program_args.h"

#include <cstring>

namespace corvane {

std::optional<int64_t> ParseInteger(std::string_view text, int64_t min, int64_t max) {
    if (min > max) return std::nullopt;
    bool negative = false;
    unsigned base = 10;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    // The magnitude is built in 64 unsigned bits and refused as soon as it passes the largest
    // magnitude the range allows.
    const uint64_t limit = negative ? (min < 0 ? 0 - static_cast<uint64_t>(min) : 0)
                                    : (max < 0 ? 0 : static_cast<uint64_t>(max));
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit > limit || value > (limit - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    const int64_t result = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    if (result < min || result > max) return std::nullopt;
    return result;
}

ProgramWord HelpOrVersionWord(int argc, const char* const* argv) {
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) return ProgramWord::None;
    const char* word = argv[1];
    if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0 || std::strcmp(word, "/?") == 0) {
        return ProgramWord::Help;
    }
    if (std::strcmp(word, "--version") == 0) return ProgramWord::Version;
    return ProgramWord::None;
}

}  // namespace corvane
