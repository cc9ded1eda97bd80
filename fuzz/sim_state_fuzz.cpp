// The simulated session manager's state file: whatever bytes it holds, parsing never reads out of
// bounds, and a state that parses survives a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/sim_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane::posix;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = ParseSimState(text);
    if (!parsed) return 0;
    const std::string written = SerializeSimState(*parsed);
    auto again = ParseSimState(written);
    if (!again || SerializeSimState(*again) != written) std::abort();
    return 0;
}
