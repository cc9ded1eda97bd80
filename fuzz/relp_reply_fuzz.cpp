// The collector's replies: frames parsed from arbitrary bytes, split at an arbitrary point, and
// handed to a client session with messages outstanding.
#include <cstddef>
#include <cstdint>

#include "upload/relp_frame.h"
#include "upload/relp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane;
    const size_t split = size > 0 ? data[0] % (size + 1) : 0;
    CRelpReplyParser parser;
    CRelpClientSession session(4);
    session.Open();
    session.OnFrame(RelpFrame {1, "rsp", "200 OK\ncommands=syslog"});
    for (int64_t tag = 0; tag < 4; ++tag) session.Syslog("m", tag);
    parser.Append(data, split);
    RelpFrame frame;
    RelpParse result;
    while ((result = parser.Next(frame)) == RelpParse::Frame) session.OnFrame(frame);
    if (result == RelpParse::Invalid) return 0;
    parser.Append(data + split, size - split);
    while (parser.Next(frame) == RelpParse::Frame) session.OnFrame(frame);
    return 0;
}
