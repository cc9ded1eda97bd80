// corvane-logon: stands in for the logon component. It listens on its own stream and datagram
// ports on 127.0.0.1, announces them to the service (0x4201), reports its state (0x4005),
// turns forwarding on (0x4002), prints every phone datagram forwarded to it, and answers every
// message the service sends it with one framed reply at once: a status notification (0x4102) is
// printed; a relayed logon, unlock or re-logon (0x5102, payload in relayed_logon.h) is carried
// out on the simulated session manager (log the user on at the console, or unlock the console
// session) and then reported to the service with a logon result report (0x3013) over the stream
// channel.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "channel/socket_helpers.h"
#include "channel/stream_client.h"
#include "lan_messages.h"
#include "lan_socket.h"
#include "logon_actions.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_sessions.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "relayed_logon.h"
#include "status_text.h"
#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"
#include "wire/program_args.h"

namespace corvane::logon {
namespace {

constexpr const char* kUsage =
    "usage: corvane-logon --tcp PORT --udp PORT [--service-port PORT] [--keyed] [--state N]\n"
    "                     [--computer NAME] [--exit-after N]\n"
    "  listens on 127.0.0.1:PORT (stream and datagram), announces itself to the service and\n"
    "  serves relayed logons on the simulated session manager until stopped (or after N relays).\n"
    "       corvane-logon --help | --version\n"
    "Exit code 1 when a port cannot be used or the service does not take the announcement, 2 for bad use.\n";
constexpr int kTimeoutMs = 10000;

struct Options {
    uint16_t tcp = 0;
    uint16_t udp = 0;
    uint16_t servicePort = Contract::COMMAND_PORT;
    bool keyed = false;
    uint16_t state = 2;  // the logon screen is up
    std::string computer;
    uint32_t exitAfter = 0;
};

std::atomic<bool> g_bStop {false};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](uint32_t max, uint32_t& out) {
            if (i + 1 >= argc) return false;
            const auto n = ParseInteger(argv[++i], 0, max);
            if (!n) return false;
            out = static_cast<uint32_t>(*n);
            return true;
        };
        uint32_t n = 0;
        if (arg == "--tcp" && number(0xFFFF, n)) {
            o.tcp = static_cast<uint16_t>(n);
        } else if (arg == "--udp" && number(0xFFFF, n)) {
            o.udp = static_cast<uint16_t>(n);
        } else if (arg == "--service-port" && number(0xFFFF, n)) {
            o.servicePort = static_cast<uint16_t>(n);
        } else if (arg == "--state" && number(0xFFFF, n)) {
            o.state = static_cast<uint16_t>(n);
        } else if (arg == "--exit-after" && number(0xFFFFFFFF, n)) {
            o.exitAfter = n;
        } else if (arg == "--keyed") {
            o.keyed = true;
        } else if (arg == "--computer" && i + 1 < argc) {
            o.computer = argv[++i];
        } else {
            return false;
        }
    }
    return o.tcp != 0 && o.udp != 0;
}

void Say(const char* format, const std::string& text) {
    std::printf(format, text.c_str());
    std::fflush(stdout);
}

// The stream connection to the service, opened (and keyed) on first use and again after a failure.
class ServiceLink {
public:
    ServiceLink(ISockets& sockets, ISystem& system, const Options& options)
        : m_client(sockets), m_system(system), m_options(options) {}

    int Request(uint16_t code, uint32_t status, const std::vector<uint8_t>& payload, StreamMessage& reply) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!m_client.IsConnected()) {
                if (int rc = m_client.Connect(m_options.servicePort)) return rc;
                if (m_options.keyed) {
                    const int rc = m_client.KeyExchange(
                        [this](uint8_t* b, size_t n) { return m_system.GenRandom(b, n); });
                    if (rc != 0) {
                        m_client.Close();
                        return rc;
                    }
                }
            }
            const int rc = m_client.Request(code, status, payload.data(), payload.size(), reply, kTimeoutMs);
            if (rc == 0) return 0;
            m_client.Close();
        }
        return -1;
    }

private:
    CStreamClient m_client;
    ISystem& m_system;
    const Options& m_options;
};

// A state report's reply carries the reported state in its status, not a result: it gets no text.
std::string Describe(const StreamMessage& reply, bool statusIsResult = true) {
    char text[96];
    std::snprintf(text, sizeof text, "code=0x%04x length=%u status=0x%08x", reply.header.code, reply.header.length,
                  reply.header.status);
    return text + (statusIsResult ? tools::StatusTextSuffix(reply.header.status) : std::string());
}

bool Announce(ServiceLink& link, const Options& o) {
    StreamMessage reply;
    std::vector<uint8_t> ports(4);
    WriteU16(ports.data(), o.tcp);
    WriteU16(ports.data() + 2, o.udp);
    if (int rc = link.Request(Contract::kAnnouncePorts, 0, ports, reply)) {
        std::fprintf(stderr, "corvane-logon: the service cannot be reached on port %u (%s)\n", o.servicePort,
                     tools::DescribeSocketError(rc).c_str());
        return false;
    }
    Say("announced ports to the service: %s\n", "tcp=" + std::to_string(o.tcp) + " udp=" + std::to_string(o.udp) +
                                                 " reply " + Describe(reply));
    // The state with an empty user name (just its NUL).
    link.Request(0x4005, o.state, {0, 0}, reply);
    Say("reported state %s\n", std::to_string(o.state) + " reply " + Describe(reply, false));
    link.Request(Contract::kForwardOn, 0, {}, reply);
    Say("forwarding on: reply %s\n", Describe(reply));
    return true;
}

void PrintForwarded(ISockets& sockets, uint16_t port) {
    lan::LanSocket socket(sockets);
    if (int rc = socket.Open(SockAddrIn::kLoopback, port)) {
        std::fprintf(stderr, "corvane-logon: cannot bind UDP 127.0.0.1:%u (%s)\n", port, tools::DescribeSocketError(rc).c_str());
        return;
    }
    while (!g_bStop) {
        auto r = socket.Receive(200);
        if (!r) continue;
        const auto forwarded = lan::ParseForwarded(r->data);
        if (!forwarded) continue;
        const auto header = MsgHeader::Decode(forwarded->original.data(), forwarded->original.size());
        char text[160];
        std::snprintf(text, sizeof text, "code=0x%04x length=%u from=%s:%u payload=", header->code, header->length,
                      Utf16ToUtf8(FormatIPv4(forwarded->source.address)).c_str(), forwarded->source.port);
        Say("forwarded datagram %s\n",
            text + lan::Hex(forwarded->original.data() + MsgHeader::kSize, header->length));
    }
}

void SendReport(ServiceLink& link, const Options& o, const std::string& deviceId, const RelayedLogon& r,
                uint32_t result) {
    lan::LogonReportFields f;
    f.result = result;
    f.devType = 2;  // a phone over Bluetooth LE
    f.operation = ReportOperation(r.code);
    f.devGuid = deviceId;
    f.computerName = o.computer;
    f.logonServer = r.domain;
    f.userName = r.user;
    f.devName = r.deviceName;
    f.errMsg = result == 0 ? "" : "the logon did not succeed";
    f.logonOption = r.logonOption;
    f.logonParam = r.delay;
    const std::vector<uint8_t> report = lan::BuildLogonReport(f);
    StreamMessage reply;
    const int rc = link.Request(Contract::kLogonResultReport, result,
                                std::vector<uint8_t>(report.begin() + MsgHeader::kSize, report.end()), reply);
    Say("reported the result to the service: %s\n", rc == 0 ? Describe(reply) : tools::DescribeSocketError(rc));
}

// One message from the service on its own connection: one framed reply, at once.
bool ServeOne(ISockets& sockets, SocketHandle s, ServiceLink& link, posix::SimSessionManager& sessions,
              const Options& o) {
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    if (ReceiveMessage(sockets, message, size, s, arena, kTimeoutMs) != 0) return false;
    const MsgHeader header = *MsgHeader::Decode(message, size);
    uint8_t reply[MsgHeader::kSize];
    MsgHeader::Reply(header.code, 0, 0).Encode(reply);

    if (header.code == Contract::kStatusNotification && header.length == Contract::kBleStatusSize) {
        SendAll(sockets, reply, sizeof reply, s, kTimeoutMs);
        Say("status notification: BleStatus %s\n", lan::Hex(message + MsgHeader::kSize, header.length));
        return false;
    }
    const auto envelope = ParseRelayEnvelope(message, size);
    const auto request = envelope ? ParseRelayedLogon(envelope->request.data(), envelope->request.size()) : std::nullopt;
    if (!request) {
        MsgHeader::ErrorReply(header.code, 0x80090005).Encode(reply);
        SendAll(sockets, reply, sizeof reply, s, kTimeoutMs);
        Say("a message it does not know: %s\n", lan::Hex(message, std::min<size_t>(size, 64)));
        return false;
    }
    Say("relayed %s\n", std::string(request->code == kRelayedLogon    ? "logon"
                                    : request->code == kRelayedUnlock ? "unlock"
                                                                      : "re-logon") +
                            " for " + request->domain + "\\" + request->user + " from device " + envelope->deviceId);
    const uint32_t result = CarryOut(sessions, *request);
    MsgHeader::Reply(header.code, 0, result).Encode(reply);
    SendAll(sockets, reply, sizeof reply, s, kTimeoutMs);
    char text[32];
    std::snprintf(text, sizeof text, "0x%08x", result);
    Say("answered the relay with status %s\n", text + tools::StatusTextSuffix(result));
    SendReport(link, o, envelope->deviceId, *request, result);
    return true;
}

}  // namespace
}  // namespace corvane::logon

int main(int argc, char** argv) {
    using namespace corvane;
    using namespace corvane::logon;
    switch (HelpOrVersionWord(argc, argv)) {
        case ProgramWord::Help: std::fputs(kUsage, stdout); return kExitOk;
        case ProgramWord::Version: std::printf("corvane-logon %s\n", kProductVersion.data()); return kExitOk;
        case ProgramWord::None: break;
    }
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::signal(SIGTERM, [](int) { g_bStop = true; });
    std::signal(SIGINT, [](int) { g_bStop = true; });
    std::signal(SIGPIPE, SIG_IGN);

    const auto root = posix::StateRoot::FromEnvironment();
    posix::PosixSockets sockets;
    sockets.Startup();
    posix::PosixSystem system(root);
    posix::PosixClock clock;
    posix::SimSessionManager sessions(posix::SimSessionDirectory(root), clock,
                                      posix::NotifyServiceBySocket(root.ControlSocketPath()));
    if (o.computer.empty()) {
        std::u16string name;
        system.GetComputerNameNetBios(name);
        o.computer = Utf16ToUtf8(name);
    }

    SocketHandle listen = kInvalidSocket;
    if (CreateSocket(sockets, SocketKind::Stream, listen) != 0 ||
        sockets.Bind(listen, SockAddrIn::Inet(SockAddrIn::kLoopback, o.tcp)) != 0 || sockets.Listen(listen, 5) != 0) {
        std::fprintf(stderr, "corvane-logon: cannot listen on TCP 127.0.0.1:%u\n", o.tcp);
        return 1;
    }
    std::thread datagrams([&] { PrintForwarded(sockets, o.udp); });
    Say("listening on 127.0.0.1:%s\n", std::to_string(o.tcp) + " (stream) and " + std::to_string(o.udp) + " (datagram)");

    ServiceLink link(sockets, system, o);
    int exitCode = Announce(link, o) ? 0 : 1;
    uint32_t relays = 0;
    while (exitCode == 0 && !g_bStop && (o.exitAfter == 0 || relays < o.exitAfter)) {
        if (WaitSocket(sockets, listen, SocketWait::Read, 200) != 0) continue;
        SocketHandle s = kInvalidSocket;
        if (sockets.Accept(listen, s, nullptr) != 0) continue;
        if (ServeOne(sockets, s, link, sessions, o)) ++relays;
        CloseSocket(sockets, s);
    }
    g_bStop = true;
    datagrams.join();
    CloseSocket(sockets, listen);
    return exitCode;
}
