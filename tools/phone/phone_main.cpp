// corvane-phone: a paired phone reaching the service over the BLE library stand-in.
//   corvane-phone run ID [--name NAME] [--rssi DBM]    one phone in the foreground until SIGTERM
//   corvane-phone ID logon|unlock|relogon USER DOMAIN [--option N] [--delay SECONDS]
//   corvane-phone ID sessions | status | rssi DBM | away | back
//   corvane-phone ID lock|logoff|disconnect CONTAINER
//   corvane-phone ID shutdown start SECONDS CONTAINER | shutdown cancel|query CONTAINER
//   corvane-phone ID times UPN
//   corvane-phone pair ID --user USER@DOMAIN [--container NAME]
// `pair` makes a key container of the phone's soft token (its certificate from the test CA that
// the state root trusts) and pairs the phone in the registry; it needs no running phone.
// The commands drive a running phone and print the reply's status and fields; the exit code is 0
// when the request succeeded, 1 when it failed or the phone could not be reached, 2 for bad use
// (checked before anything is sent). --help and --version print and exit 0.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "phone.h"
#include "phone_args.h"
#include "phone_link.h"
#include "phone/device_hello.h"
#include "phone_pki.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "platform/posix/sim_radio.h"
#include "vxble_link.h"
#include "wire/byte_order.h"
#include "wire/program_args.h"

namespace {

std::atomic<bool> g_stop {false};

void OnSignal(int) { g_stop = true; }

constexpr const char* kUsage =
                 "usage: corvane-phone run ID [--name NAME] [--rssi DBM]\n"
                 "       corvane-phone ID logon|unlock|relogon USER DOMAIN [--option N] [--delay SECONDS]\n"
                 "       corvane-phone ID sessions|status|away|back\n"
                 "       corvane-phone ID rssi DBM\n"
                 "       corvane-phone ID lock|logoff|disconnect CONTAINER\n"
                 "       corvane-phone ID shutdown start SECONDS CONTAINER\n"
                 "       corvane-phone ID shutdown cancel|query CONTAINER\n"
                 "       corvane-phone ID times UPN\n"
                 "       corvane-phone pair ID --user USER@DOMAIN [--container NAME]\n"
                 "       corvane-phone --help | --version\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return corvane::kExitUsage;
}

// A one-line reason for bad use, exit 2.
int UsageError(const std::string& reason) {
    std::fprintf(stderr, "corvane-phone: %s\n", reason.c_str());
    return corvane::kExitUsage;
}

int RunPhone(const std::string& root, int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string id = argv[2];
    if (const std::string reason = corvane::phone::CheckPhoneId(id); !reason.empty()) return UsageError(reason);
    std::string name = id;
    int16_t rssi = -55;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return UsageError(option + " needs a value");
        if (option == "--name") {
            name = argv[++i];
        } else if (option == "--rssi") {
            const auto value = corvane::phone::ParseRssi(argv[++i]);
            if (!value) return UsageError(std::string("bad --rssi '") + argv[i] + "' (a whole number from -128 to 127)");
            rssi = *value;
        } else {
            return UsageError("unknown option '" + option + "'");
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    corvane::phone::Phone phone(root, id, name, rssi);
    if (!phone.Init()) return 1;
    return phone.Run(g_stop);
}

// The container (named after the user unless --container says otherwise) and the registry's
// pairing key HKLM\SOFTWARE\Tovrel\Pair\ID.
int Pair(const std::string& root, int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string id = argv[2];
    if (const std::string reason = corvane::phone::CheckPhoneId(id); !reason.empty()) return UsageError(reason);
    std::string user;
    std::string container;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return UsageError(option + " needs a value");
        if (option == "--user") {
            user = argv[++i];
        } else if (option == "--container") {
            container = argv[++i];
        } else {
            return Usage();
        }
    }
    if (user.empty()) return UsageError("pair needs --user USER@DOMAIN");
    if (container.empty()) container = user.substr(0, user.find('@'));
    std::string error;
    if (!corvane::phone::MakePairedContainer(root, id, user, container, error)) {
        std::fprintf(stderr, "corvane-phone: %s\n", error.c_str());
        return 1;
    }
    corvane::posix::PosixRegistry registry(corvane::posix::StateRoot::At(root).RegistryDir());
    const std::u16string key = u"SOFTWARE\\Tovrel\\Pair\\" + corvane::Utf8ToUtf16(id);
    if (const uint32_t rc = registry.CreateKey(key)) {
        std::fprintf(stderr, "corvane-phone: cannot pair %s in the registry: 0x%08x\n", id.c_str(), rc);
        return 1;
    }
    std::printf("paired %s user %s container %s\n", id.c_str(), user.c_str(), container.c_str());
    return 0;
}

int SendCommand(const std::string& root, int argc, char** argv) {
    const std::string id = argv[1];
    if (const std::string reason = corvane::phone::CheckPhoneId(id); !reason.empty()) return UsageError(reason);
    const std::vector<std::string> words(argv + 2, argv + argc);
    if (const std::string reason = corvane::phone::CheckPhoneCommand(words); !reason.empty()) return UsageError(reason);
    std::string text;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) text.push_back('\n');
        text += argv[i];
    }
    const std::string socketPath = corvane::vxble::PhoneSocketPath(root, id);
    const int fd = corvane::phone::ConnectWithIntro(socketPath, corvane::vxble::kKindCommand, id);
    if (fd < 0) {
        // A socket that nobody listens on any more was left by a phone that is gone.
        const bool stale = corvane::phone::RemoveStaleSocket(socketPath);
        std::fprintf(stderr, "corvane-phone: phone %s is not running%s\n", id.c_str(),
                     stale ? " (its leftover socket was removed)" : "");
        return 1;
    }
    uint8_t size[2];
    corvane::WriteU16(size, static_cast<uint16_t>(text.size()));
    corvane::phone::SendAll(fd, size, 2);
    corvane::phone::SendAll(fd, text.data(), text.size());
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    // The first line is the exit code; the rest is printed.
    const size_t line = answer.find('\n');
    if (answer.rfind("rc ", 0) != 0 || line == std::string::npos) {
        std::fprintf(stderr, "corvane-phone: no answer from phone %s\n", id.c_str());
        return 1;
    }
    const int rc = static_cast<int>(corvane::ParseInteger(answer.substr(3, line - 3), 0, 2).value_or(1));
    // A refusal of bad use is an error of this command line, on one line of stderr.
    if (rc == corvane::kExitUsage) return UsageError(answer.substr(line + 1, answer.find('\n', line + 1) - line - 1));
    std::fputs(answer.c_str() + line + 1, stdout);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    switch (corvane::HelpOrVersionWord(argc, argv)) {
        case corvane::ProgramWord::Help: std::fputs(kUsage, stdout); return corvane::kExitOk;
        case corvane::ProgramWord::Version: std::printf("corvane-phone %s\n", corvane::kProductVersion.data()); return corvane::kExitOk;
        case corvane::ProgramWord::None: break;
    }
    const std::string root = corvane::posix::SimStateRootFromEnvironment();
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return RunPhone(root, argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "pair") == 0) return Pair(root, argc, argv);
    if (argc >= 3) return SendCommand(root, argc, argv);
    return Usage();
}
