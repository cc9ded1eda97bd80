// Text values inside the audit statements are written between single quotes; a quote inside the
// value is doubled so that the value is stored unchanged.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// `text` with every "'" doubled as "''".
std::u16string SqlQuote(std::u16string_view text);

}  // namespace corvane
