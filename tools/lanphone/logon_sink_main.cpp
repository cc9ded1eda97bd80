// corvane-logonsink: plays the logon component's datagram port (LogonPortUDP) on 127.0.0.1 and
// prints every datagram the service forwards there: the phone's message and the phone's address
// that the service appended.
#include <cstdio>
#include <string>

#include "wire/msg_header.h"
#include "lan_messages.h"
#include "lan_socket.h"
#include "platform/posix/posix_sockets.h"
#include "platform/text.h"
#include "status_text.h"

int main(int argc, char** argv) {
    using namespace corvane;
    using namespace corvane::lan;
    if (argc < 2) {
        std::fputs("usage: corvane-logonsink PORT [WAIT-MS] [EXPECT]\n"
                   "  prints each forwarded datagram until WAIT-MS (default 2000) pass without one;\n"
                   "  exit code 1 when fewer than EXPECT arrived.\n",
                   stderr);
        return 2;
    }
    const auto port = ParseNumber(argv[1]);
    const auto wait = ParseNumber(argc > 2 ? argv[2] : "2000");
    const auto expect = ParseNumber(argc > 3 ? argv[3] : "0");
    if (!port || *port > 0xFFFF || !wait || !expect) return 2;

    posix::PosixSockets sockets;
    sockets.Startup();
    LanSocket socket(sockets);
    if (int rc = socket.Open(SockAddrIn::kLoopback, static_cast<uint16_t>(*port))) {
        std::fprintf(stderr, "corvane-logonsink: cannot bind 127.0.0.1:%u (%s)\n", *port,
                     corvane::tools::DescribeSocketError(rc).c_str());
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", *port);
    std::fflush(stdout);
    uint32_t count = 0;
    while (auto r = socket.Receive(*wait)) {
        ++count;
        const auto forwarded = ParseForwarded(r->data);
        if (!forwarded) {
            std::printf("not a forwarded datagram (%zu bytes): %s\n", r->data.size(), Hex(r->data.data(), r->data.size()).c_str());
        } else {
            const auto header = MsgHeader::Decode(forwarded->original.data(), forwarded->original.size());
            std::printf("forwarded code=0x%04x length=%u status=0x%08x from=%s:%u payload=%s\n", header->code,
                        header->length, header->status, Utf16ToUtf8(FormatIPv4(forwarded->source.address)).c_str(),
                        forwarded->source.port,
                        Hex(forwarded->original.data() + MsgHeader::kSize, header->length).c_str());
        }
        std::fflush(stdout);
    }
    return count >= *expect ? 0 : 1;
}
