// corvane-lanphone: a phone on the local network, for the demo, the tests and the Windows smoke
// run. It sends the datagrams a phone sends to the service's command port (presence, withdrawal,
// session queries, codes for the logon component) and, playing the logon component, a logon
// result report; it listens on UDP 45452 for the service's replies and prints them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "wire/companion_contract.h"
#include "lan_messages.h"
#include "lan_socket.h"
#include "platform/posix/posix_sockets.h"
#include "status_text.h"
#include "platform/text.h"
#include "wire/program_args.h"
#include "wire/time_text.h"

namespace corvane::lan {
namespace {

constexpr const char* kUsage =
    "usage: corvane-lanphone [--to HOST] [--port N] VERB ...\n"
    "  announce ID NAME [--device-port N] [--value N]   presence (0x0001)\n"
    "  withdraw ID                                      withdrawal (0x0002)\n"
    "  query ID UPN [--wait MS] [--expect N]            session query (0x3014), prints the replies\n"
    "  report ID USER DOMAIN [--type N] [--op N] [--result N] [--sub N] [--computer NAME]\n"
    "         [--name DEVICE-NAME] [--error TEXT] [--option N] [--delay N]   logon result report (0x3013)\n"
    "  logoff|lock|disconnect ID CONTAINER [--wait MS]   remote logoff, lock or disconnect (0x3015) of the user\n"
    "                                                   the certificate of the container names; prints the reply\n"
    "  send CODE [HEX-PAYLOAD]                          any code, e.g. one for the logon component\n"
    "  listen [--wait MS] [--expect N]                  prints what arrives on UDP 45452\n"
    "  --help | --version\n"
    "Defaults: --to 127.0.0.1 --port 45451 --wait 2000. Exit code 1 when fewer than --expect replies came\n"
    "or a send failed, 2 for bad use (checked before anything is sent).\n";

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    std::string Option(const std::string& name, const std::string& fallback) const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
    // The option's value within [min, max]; bad use (exit 2) for anything else.
    int64_t Number(const std::string& name, int64_t fallback, int64_t min = 0, int64_t max = UINT32_MAX) const {
        auto it = options.find(name);
        if (it == options.end()) return fallback;
        const auto v = ParseInteger(it->second, min, max);
        if (!v) {
            std::fprintf(stderr, "corvane-lanphone: --%s wants a number from %lld to %lld, not '%s'\n", name.c_str(),
                         static_cast<long long>(min), static_cast<long long>(max), it->second.c_str());
            std::exit(kExitUsage);
        }
        return *v;
    }
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0 && i + 1 < argc) {
            a.options[argv[i] + 2] = argv[i + 1];
            ++i;
        } else {
            a.positional.emplace_back(argv[i]);
        }
    }
    return a;
}

std::string FileTimeText(int64_t ft) { return ft == 0 ? "0" : Utf16ToUtf8(FormatFileTime(ft)); }

void PrintReply(const Received& r) {
    const std::string from = Utf16ToUtf8(FormatIPv4(r.from.address)) + ":" + std::to_string(r.from.port);
    if (auto reply = ParseSessionQueryReply(r.data)) {
        std::printf("session reply from %s: status=0x%08x%s state=%u device=%s host=%s computer=%s logon=%s active=%s "
                    "locked=%s upn=%s\n",
                    from.c_str(), reply->status, tools::StatusTextSuffix(reply->status).c_str(), reply->state, reply->deviceId.c_str(), reply->hostGuid.c_str(),
                    reply->computerName.c_str(), FileTimeText(reply->logonTime).c_str(),
                    FileTimeText(reply->activeTime).c_str(), FileTimeText(reply->lockedTime).c_str(),
                    reply->principal.c_str());
    } else if (auto logoff = ParseRemoteLogoffReply(r.data)) {
        std::printf("logoff reply from %s: status=0x%08x%s operation=%u device=%s host=%s container=%s text=%s\n",
                    from.c_str(), logoff->status, tools::StatusTextSuffix(logoff->status).c_str(), logoff->operation, logoff->deviceId.c_str(), logoff->hostGuid.c_str(),
                    logoff->container.c_str(), logoff->text.c_str());
    } else {
        std::printf("datagram from %s: %s\n", from.c_str(), Hex(r.data.data(), r.data.size()).c_str());
    }
    std::fflush(stdout);
}

// Prints what arrives until `waitMs` passes without anything more; the number printed.
int Collect(LanSocket& socket, uint32_t waitMs) {
    int count = 0;
    while (auto r = socket.Receive(waitMs)) {
        PrintReply(*r);
        ++count;
    }
    return count;
}

int Run(const Args& a) {
    if (a.positional.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    static const char* const kKnownOptions[] = {"to",  "port", "device-port", "value", "wait",  "expect", "type", "op",
                                                "result", "sub", "computer", "name",  "error", "option", "delay"};
    for (const auto& option : a.options) {
        const std::string& name = option.first;  // a plain reference: clang 14 cannot capture a binding
        if (std::find_if(std::begin(kKnownOptions), std::end(kKnownOptions),
                         [&](const char* known) { return name == known; }) == std::end(kKnownOptions)) {
            std::fprintf(stderr, "corvane-lanphone: unknown option '--%s'\n", name.c_str());
            return kExitUsage;
        }
    }
    // Every number is checked before anything is sent.
    for (const char* name : {"port", "device-port"}) a.Number(name, 0, 0, 0xFFFF);
    for (const char* name : {"type", "op"}) a.Number(name, 0, 0, 0xFFFF);
    for (const char* name : {"value", "result", "sub", "wait", "expect"}) a.Number(name, 0);
    for (const char* name : {"option", "delay"}) a.Number(name, 0, INT32_MIN, INT32_MAX);
    posix::PosixSockets sockets;
    sockets.Startup();
    const auto host = ResolveAddress(sockets, a.Option("to", "127.0.0.1"));
    if (!host) {
        std::fprintf(stderr, "corvane-lanphone: cannot resolve '%s'\n", a.Option("to", "").c_str());
        return 2;
    }
    const SockAddrIn service = SockAddrIn::Inet(*host, static_cast<uint16_t>(a.Number("port", Contract::COMMAND_PORT, 0, 0xFFFF)));
    const std::string& verb = a.positional[0];
    const auto arg = [&](size_t i) -> const std::string& {
        if (i >= a.positional.size()) {
            std::fputs(kUsage, stderr);
            std::exit(2);
        }
        return a.positional[i];
    };

    // Replies come to the phone's port 45452; verbs that wait for them listen there.
    const uint32_t operation = verb == "logoff" ? 1 : verb == "lock" ? 2 : verb == "disconnect" ? 3 : 0;
    const bool listens = verb == "query" || verb == "listen" || operation != 0;
    LanSocket socket(sockets);
    if (int rc = socket.Open(SockAddrIn::kAny, listens ? Contract::DEVICE_REPLY_PORT : 0)) {
        std::fprintf(stderr, "corvane-lanphone: cannot open the UDP socket (%s)\n", tools::DescribeSocketError(rc).c_str());
        return 1;
    }

    std::vector<uint8_t> datagram;
    if (verb == "announce") {
        datagram = BuildPresence(Contract::kPresence, static_cast<uint16_t>(a.Number("device-port", Contract::DEVICE_REPLY_PORT, 0, 0xFFFF)),
                                 static_cast<uint32_t>(a.Number("value", 0)), arg(1), arg(2));
    } else if (verb == "withdraw") {
        datagram = BuildPresence(Contract::kWithdrawal, 0, 0, arg(1), "");
    } else if (verb == "query") {
        datagram = BuildSessionQuery(arg(1), arg(2));
    } else if (verb == "report") {
        LogonReportFields f;
        f.devGuid = arg(1);
        f.userName = arg(2);
        f.logonServer = arg(3);
        f.devType = static_cast<uint16_t>(a.Number("type", 1, 0, 0xFFFF));
        f.operation = static_cast<uint16_t>(a.Number("op", 1, 0, 0xFFFF));
        f.result = static_cast<uint32_t>(a.Number("result", 0));
        f.resultSub = static_cast<uint32_t>(a.Number("sub", 0));
        f.computerName = a.Option("computer", "");
        f.devName = a.Option("name", arg(1));
        f.errMsg = a.Option("error", "");
        f.logonOption = static_cast<int32_t>(a.Number("option", 0, INT32_MIN, INT32_MAX));
        f.logonParam = static_cast<int32_t>(a.Number("delay", 0, INT32_MIN, INT32_MAX));
        datagram = BuildLogonReport(f);
    } else if (operation != 0) {
        datagram = BuildRemoteLogoff(operation, arg(1), arg(2));
    } else if (verb == "send") {
        const auto code = ParseNumber(arg(1));
        const auto payload = ParseHex(a.positional.size() > 2 ? a.positional[2] : "");
        if (!code || *code > 0xFFFF || !payload) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        datagram = BuildMessage(static_cast<uint16_t>(*code), *payload);
    } else if (verb != "listen") {
        std::fputs(kUsage, stderr);
        return 2;
    }

    if (!datagram.empty()) {
        if (int rc = socket.SendTo(datagram, service)) {
            std::fprintf(stderr, "corvane-lanphone: send failed (%s)\n", tools::DescribeSocketError(rc).c_str());
            return 1;
        }
        std::printf("sent %s (%zu bytes) to %s:%u\n", verb.c_str(), datagram.size(),
                    Utf16ToUtf8(FormatIPv4(service.address)).c_str(), service.port);
        std::fflush(stdout);
    }
    if (!listens) return 0;
    if (operation != 0) {
        // One reply at most; the key proof may download a CRL first, which takes its time.
        auto reply = socket.Receive(static_cast<uint32_t>(a.Number("wait", 25000)));
        if (!reply) {
            std::printf("no reply\n");
            return 1;
        }
        PrintReply(*reply);
        return 0;
    }
    const int64_t received = Collect(socket, static_cast<uint32_t>(a.Number("wait", 2000)));
    return received >= a.Number("expect", 0) ? 0 : 1;
}

}  // namespace
}  // namespace corvane::lan

int main(int argc, char** argv) {
    switch (corvane::HelpOrVersionWord(argc, argv)) {
        case corvane::ProgramWord::Help: std::fputs(corvane::lan::kUsage, stdout); return corvane::kExitOk;
        case corvane::ProgramWord::Version:
            std::printf("corvane-lanphone %s\n", corvane::kProductVersion.data());
            return corvane::kExitOk;
        case corvane::ProgramWord::None: break;
    }
    return corvane::lan::Run(corvane::lan::Parse(argc, argv));
}
