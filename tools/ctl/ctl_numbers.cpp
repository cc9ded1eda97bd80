#include "ctl_numbers.h"

#include <cerrno>
#include <cstdlib>

namespace corvane::ctl {

std::optional<uint32_t> ParseNumber(const std::string& text) {
    if (text.empty() || text[0] == '-') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long long v = std::strtoull(hex ? text.c_str() + 2 : text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

}  // namespace corvane::ctl
