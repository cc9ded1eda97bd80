// Which CRL distribution point URLs the service retrieves at all. A certificate names its own
// distribution points, so the URL comes from outside: only http and https are fetched. Other
// schemes would let a certificate make this LocalSystem service open a file share (and log on to
// it with the machine account) or query a directory server.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

// The answer of a retriever for a URL it refuses before any retrieval (ERROR_WINHTTP_INVALID_URL).
constexpr uint32_t kCrlUrlRefused = 12005;
// Each retrieval stops at this many bytes: a larger answer is no CRL the service would keep.
constexpr uint32_t kMaxCrlBytes = 16u << 20;

// True for "http://host..." and "https://host..." (scheme in any case) with a host name, and
// without NUL or control characters anywhere.
bool IsRetrievableCrlUrl(std::u16string_view url);

}  // namespace corvane
