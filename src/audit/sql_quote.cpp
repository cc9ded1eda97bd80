#include "audit/sql_quote.h"

namespace corvane {

std::u16string SqlQuote(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 8);
    for (char16_t c : text) {
        out.push_back(c);
        if (c == u'\'') out.push_back(u'\'');
    }
    return out;
}

}  // namespace corvane
