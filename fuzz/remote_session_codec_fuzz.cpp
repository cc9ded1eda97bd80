// Feeds the decoders of a phone's session control, delayed shutdown and session time query with
// any payload. Besides the sanitizers it checks their promises: a request is accepted only when
// its name and NUL end exactly at the payload's end, with a key spec of 1 or 2, and a reply
// frames exactly with the result text appended.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "phone/remote_session_codec.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace {

using namespace corvane;

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SessionControlRequest control;
    if (DecodeSessionControl(data, size, control) == 0) {
        const size_t fixed = control.longForm ? 8 : 4;
        Check(control.container.size() + fixed + 1 == size);
        Check(control.keySpec == 1 || control.keySpec == 2);
    }
    ShutdownRequest shutdown;
    if (DecodeShutdownRequest(data, size, shutdown) == 0) {
        Check(shutdown.container.size() + 13 == size);
        Check(shutdown.keySpec == 1 || shutdown.keySpec == 2);
    }
    std::string upn;
    if (DecodeSessionTimeQuery(data, size, upn) == 0) Check(upn.size() + 1 == size);

    ReplyArena arena;
    size_t capacity = 0;
    const uint32_t operation = size >= 4 ? ReadU32(data) : 0;
    uint8_t* reply = NewShutdownReply(arena, operation, static_cast<uint32_t>(size), 0x80090005, capacity);
    Check(reply != nullptr && capacity == 8 + 8 + kRemoteReplyTextRoom);
    const MsgHeader header = *MsgHeader::Decode(reply, capacity);
    Check(header.code == 0xB029 && header.length == 9 && reply[kShutdownTextOffset] == 0);
    return 0;
}
