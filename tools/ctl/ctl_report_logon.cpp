// corvane-ctl report-logon: the logon component's logon result report (0x3013), sent for a
// sign-in that happened outside it. On a Linux desktop the PAM stack's session step runs it
// (pam_exec) when a user has signed in with a smart card, so that the service watches that card
// and locks the session when it leaves its reader; a phone's sign-in is reported the same way.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "ctl_commands.h"
#include "device/card_identity.h"
#include "lan_messages.h"
#include "lan_socket.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "status_text.h"
#include "wire/companion_contract.h"
#include "wire/program_args.h"

namespace corvane::ctl {

namespace {
constexpr const char* kUsage =
    "usage: corvane-ctl report-logon USER DOMAIN (--card READER --serial SERIAL | --phone DEVICE-ID) "
    "[--option N] [--delay S]";
constexpr uint16_t kDeviceNetwork = 1;  // a phone on the local network
constexpr uint16_t kDeviceCard = 3;     // a smart card in a reader
constexpr uint16_t kOperationLogon = 1;

// A signed 32-bit number in decimal (an away option is negative); nothing for anything else.
std::optional<int32_t> ParseInt32(const std::string& text) {
    if (text.empty() || text.size() > 11) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(n);
}
}  // namespace

int RunReportLogon(const Args& args) {
    if (args.size() < 2) return UsageFail(kUsage);
    lan::LogonReportFields f;
    f.userName = args[0];
    f.logonServer = args[1];
    f.operation = kOperationLogon;
    std::string reader, serial, phone;
    bool option = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return UsageFail(kUsage);
        const std::string& name = args[i];
        const std::string& value = args[++i];
        if (name == "--card") {
            reader = value;
        } else if (name == "--serial") {
            serial = value;
        } else if (name == "--phone") {
            phone = value;
        } else if (name == "--option" || name == "--delay") {
            const auto n = ParseInt32(value);
            if (!n) return UsageFail(kUsage);
            (name == "--option" ? f.logonOption : f.logonParam) = *n;
            option = option || name == "--option";
        } else {
            return UsageFail(kUsage);
        }
    }
    if (f.userName.empty() || (phone.empty() == reader.empty()) || reader.empty() != serial.empty()) {
        return UsageFail(kUsage);
    }
    if (!phone.empty()) {
        f.devType = kDeviceNetwork;
        f.devGuid = phone;
        f.devName = phone;
    } else {
        // The token's serial number as the card reports it (CK_TOKEN_INFO serialNumber: at most
        // 16 characters, blank-padded), which names the card's reader device.
        if (serial.size() > 16) return UsageFail("the card serial has at most 16 characters");
        TokenSerial bytes;
        bytes.fill(' ');
        std::memcpy(bytes.data(), serial.data(), serial.size());
        f.devType = kDeviceCard;
        f.devGuid = Utf16ToUtf8(CardDeviceId(bytes));
        f.devName = reader;
    }
    // A card sign-in locks its session when the card leaves (option 1, at once) unless told
    // otherwise.
    if (!option && phone.empty()) f.logonOption = 1;

    posix::PosixSystem system(posix::StateRoot::FromEnvironment());
    std::u16string computer;
    if (system.GetComputerNameNetBios(computer) == 0) f.computerName = Utf16ToUtf8(computer);

    posix::PosixSockets sockets;
    sockets.Startup();
    lan::LanSocket socket(sockets);
    if (int rc = socket.Open(SockAddrIn::kAny, 0)) {
        return Fail("cannot open the UDP socket (" + tools::DescribeSocketError(rc) + ")");
    }
    const auto loopback = lan::ResolveAddress(sockets, "127.0.0.1");
    if (!loopback) return Fail("cannot resolve 127.0.0.1");
    const SockAddrIn service = SockAddrIn::Inet(*loopback, Contract::COMMAND_PORT);
    if (int rc = socket.SendTo(lan::BuildLogonReport(f), service)) {
        return Fail("send failed (" + tools::DescribeSocketError(rc) + ")");
    }
    std::printf("reported the logon of %s\\%s with %s %s\n", f.logonServer.c_str(), f.userName.c_str(),
                phone.empty() ? "card" : "phone", f.devGuid.c_str());
    return 0;
}

}  // namespace corvane::ctl
