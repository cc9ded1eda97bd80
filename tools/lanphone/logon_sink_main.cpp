// corvane-logonsink: plays the logon component's datagram port (LogonPortUDP) on 127.0.0.1 and
// prints every datagram the service forwards there: the phone's message and the phone's address
// that the service appended.
#include <cstdint>
#include <cstdio>
#include <string>

#include "wire/msg_header.h"
#include "wire/program_args.h"
#include "lan_messages.h"
#include "lan_socket.h"
#include "platform/posix/posix_sockets.h"
#include "platform/text.h"
#include "status_text.h"

namespace {
constexpr const char* kUsage =
    "usage: corvane-logonsink PORT [WAIT-MS] [EXPECT]\n"
    "       corvane-logonsink --help | --version\n"
    "  prints each forwarded datagram until WAIT-MS (default 2000) pass without one;\n"
    "  exit code 1 when fewer than EXPECT arrived or the port cannot be bound, 2 for bad use.\n";

int UsageError(const char* what, const char* text) {
    std::fprintf(stderr, "corvane-logonsink: bad %s '%s'\n", what, text);
    return corvane::kExitUsage;
}
}  // namespace

int main(int argc, char** argv) {
    using namespace corvane;
    using namespace corvane::lan;
    switch (HelpOrVersionWord(argc, argv)) {
        case ProgramWord::Help: std::fputs(kUsage, stdout); return kExitOk;
        case ProgramWord::Version: std::printf("corvane-logonsink %s\n", kProductVersion.data()); return kExitOk;
        case ProgramWord::None: break;
    }
    if (argc < 2 || argc > 4) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const auto port = ParseInteger(argv[1], 0, 0xFFFF);
    const auto wait = ParseInteger(argc > 2 ? argv[2] : "2000", 0, UINT32_MAX);
    const auto expect = ParseInteger(argc > 3 ? argv[3] : "0", 0, UINT32_MAX);
    if (!port) return UsageError("PORT", argv[1]);
    if (!wait) return UsageError("WAIT-MS", argv[2]);
    if (!expect) return UsageError("EXPECT", argv[3]);

    posix::PosixSockets sockets;
    sockets.Startup();
    LanSocket socket(sockets);
    if (int rc = socket.Open(SockAddrIn::kLoopback, static_cast<uint16_t>(*port))) {
        std::fprintf(stderr, "corvane-logonsink: cannot bind 127.0.0.1:%u (%s)\n", static_cast<unsigned>(*port),
                     corvane::tools::DescribeSocketError(rc).c_str());
        return kExitFailure;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(*port));
    std::fflush(stdout);
    int64_t count = 0;
    while (auto r = socket.Receive(static_cast<uint32_t>(*wait))) {
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
