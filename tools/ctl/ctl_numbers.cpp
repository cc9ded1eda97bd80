#include "ctl_numbers.h"

#include "wire/program_args.h"

namespace corvane::ctl {

std::optional<uint32_t> ParseNumber(const std::string& text) {
    const auto value = ParseInteger(text, 0, UINT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

}  // namespace corvane::ctl
