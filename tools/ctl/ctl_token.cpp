// The token verbs: what the CSP sees of the tokens through the stream channel.
//   token slots [--keyed] [--port PORT]              the slot list (0x7001)
//   token state SLOT [--keyed] [--port PORT]         one slot's state, its token polled (0x7002)
//   token containers SLOT [--keyed] [--port PORT]    the key containers of the slot's token (0x7011)
// Output: "status=0x%08X" first (the service's status, or the connection's error, followed by
// its text in parentheses when it is not 0), then on
// success a count line and one line per slot or container of "field=value" words, the free text
// last:
//   slot=0x00000001 present=1 serial=9f3c1a2b4d5e6f70 description=Slot one
//   container=0x00000002 name=Alpha
// The serial is shown as text when it is printable, as "hex:..." otherwise, and empty when
// unknown. Exit status 0 on success, 1 for a failed request, 2 for bad arguments.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "channel/stream_token_client.h"
#include "ctl_commands.h"
#include "ctl_connection.h"
#include "ctl_numbers.h"
#include "platform/posix/posix_sockets.h"
#include "status_text.h"

namespace corvane::ctl {

namespace {
constexpr const char* kTokenUsage =
    "usage: corvane-ctl token slots|state SLOT|containers SLOT [--keyed] [--port PORT]";

int UsageError() {
    std::fprintf(stderr, "corvane-ctl: %s\n", kTokenUsage);
    return 2;
}

std::string SerialText(const std::array<uint8_t, 16>& serial) {
    size_t end = serial.size();
    while (end > 0 && (serial[end - 1] == 0 || serial[end - 1] == ' ')) --end;
    bool printable = true;
    for (size_t i = 0; i < end; ++i) printable = printable && serial[i] > 0x20 && serial[i] < 0x7F;
    if (printable) return std::string(serial.begin(), serial.begin() + end);
    static const char* digits = "0123456789abcdef";
    std::string out = "hex:";
    for (uint8_t b : serial) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Texts from a token printed on one line: control characters show as '?'.
std::string OneLine(std::string text) {
    for (char& ch : text) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
    }
    return text;
}

void PrintSlot(const TokenSlotEntry& slot) {
    std::printf("slot=0x%08X present=%d serial=%s description=%s\n", slot.slotId, slot.tokenPresent ? 1 : 0,
                SerialText(slot.serial).c_str(), OneLine(slot.description).c_str());
}

int Finish(uint32_t status) {
    std::printf("status=0x%08X%s\n", status, tools::StatusTextSuffix(status).c_str());
    return status == 0 ? 0 : 1;
}
}  // namespace

int RunToken(const Args& args) {
    Args words = args;
    Connection c;
    if (!TakeConnectionOptions(words, c) || words.empty()) return UsageError();
    const std::string& what = words[0];
    std::optional<uint32_t> slotId;
    if (what == "slots") {
        if (words.size() != 1) return UsageError();
    } else if (what == "state" || what == "containers") {
        if (words.size() != 2 || !(slotId = ParseNumber(words[1]))) return UsageError();
    } else {
        return UsageError();
    }

    posix::PosixSockets sockets;
    sockets.Startup();
    CStreamClient stream(sockets);
    if (int rc = OpenConnection(c, stream)) return rc;
    CStreamTokenClient tokens(stream);

    if (what == "slots") {
        std::vector<TokenSlotEntry> slots;
        if (uint32_t rc = tokens.SlotList(slots)) return Finish(rc);
        Finish(0);
        std::printf("count=%zu\n", slots.size());
        for (const auto& slot : slots) PrintSlot(slot);
        return 0;
    }
    if (what == "state") {
        TokenSlotEntry slot;
        if (uint32_t rc = tokens.SlotState(*slotId, slot)) return Finish(rc);
        Finish(0);
        PrintSlot(slot);
        return 0;
    }
    std::vector<TokenContainerEntry> containers;
    if (uint32_t rc = tokens.Containers(*slotId, containers)) return Finish(rc);
    Finish(0);
    std::printf("count=%zu\n", containers.size());
    for (const auto& container : containers) {
        std::printf("container=0x%08X name=%s\n", container.handle, OneLine(container.name).c_str());
    }
    return 0;
}

}  // namespace corvane::ctl
