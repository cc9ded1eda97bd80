// What corvane-ctl reads from the control socket: a query reply, then the copy of the service's
// tables in its lines. Whatever bytes arrive, neither parser reads out of bounds, and a copy that
// parses survives a second encoding unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/control_protocol.h"
#include "service/service_snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane;
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool known = false;
    auto lines = posix::ParseQueryReply(text, known);
    if (!lines || !known) return 0;
    auto snapshot = DecodeSnapshot(*lines);
    if (!snapshot) return 0;
    const std::vector<std::string> encoded = EncodeSnapshot(*snapshot);
    auto again = DecodeSnapshot(encoded);
    if (!again || EncodeSnapshot(*again) != encoded) std::abort();
    return 0;
}
