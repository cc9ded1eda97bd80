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
// when the request succeeded, 1 when it failed or the phone could not be reached, 2 for bad use.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "phone.h"
#include "phone_link.h"
#include "phone/device_hello.h"
#include "phone_pki.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "platform/posix/sim_radio.h"
#include "vxble_link.h"
#include "wire/byte_order.h"

namespace {

std::atomic<bool> g_stop {false};

void OnSignal(int) { g_stop = true; }

int Usage() {
    std::fprintf(stderr,
                 "usage: corvane-phone run ID [--name NAME] [--rssi DBM]\n"
                 "       corvane-phone ID logon|unlock|relogon USER DOMAIN [--option N] [--delay SECONDS]\n"
                 "       corvane-phone ID sessions|status|away|back\n"
                 "       corvane-phone ID rssi DBM\n"
                 "       corvane-phone ID lock|logoff|disconnect CONTAINER\n"
                 "       corvane-phone ID shutdown start SECONDS CONTAINER\n"
                 "       corvane-phone ID shutdown cancel|query CONTAINER\n"
                 "       corvane-phone ID times UPN\n"
                 "       corvane-phone pair ID --user USER@DOMAIN [--container NAME]\n");
    return 2;
}

int RunPhone(const std::string& root, int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string id = argv[2];
    std::string name = id;
    int rssi = -55;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        if (option == "--name") {
            name = argv[++i];
        } else if (option == "--rssi") {
            rssi = std::atoi(argv[++i]);
        } else {
            return Usage();
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    corvane::phone::Phone phone(root, id, name, static_cast<int16_t>(rssi));
    if (!phone.Init()) return 1;
    return phone.Run(g_stop);
}

// The container (named after the user unless --container says otherwise) and the registry's
// pairing key HKLM\SOFTWARE\Tovrel\Pair\ID.
int Pair(const std::string& root, int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string id = argv[2];
    std::string user;
    std::string container;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage();
        if (option == "--user") {
            user = argv[++i];
        } else if (option == "--container") {
            container = argv[++i];
        } else {
            return Usage();
        }
    }
    if (user.empty()) return Usage();
    if (id.empty() || id.size() >= corvane::HelloLayout::kIdSize) {
        std::fprintf(stderr, "corvane-phone: the phone ID must have 1 to 39 bytes\n");
        return 1;
    }
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
    const std::string verb = argv[2];
    const bool known = verb == "logon" || verb == "unlock" || verb == "relogon" || verb == "sessions" ||
                       verb == "status" || verb == "rssi" || verb == "away" || verb == "back" || verb == "lock" ||
                       verb == "logoff" || verb == "disconnect" || verb == "shutdown" || verb == "times";
    const bool session = verb == "lock" || verb == "logoff" || verb == "disconnect" || verb == "times";
    const std::string step = argc > 3 ? argv[3] : "";
    const bool shutdownUse = (step == "start" && argc == 6) || ((step == "cancel" || step == "query") && argc == 5);
    if (!known || ((verb == "logon" || verb == "unlock" || verb == "relogon") && argc < 5) ||
        (verb == "rssi" && argc != 4) || (session && argc != 4) || (verb == "shutdown" && !shutdownUse)) {
        return Usage();
    }
    std::string text;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) text.push_back('\n');
        text += argv[i];
    }
    const int fd = corvane::phone::ConnectWithIntro(corvane::vxble::PhoneSocketPath(root, id),
                                                    corvane::vxble::kKindCommand, id);
    if (fd < 0) {
        std::fprintf(stderr, "corvane-phone: phone %s is not running\n", id.c_str());
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
    std::fputs(answer.c_str() + line + 1, stdout);
    return std::atoi(answer.c_str() + 3);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string root = corvane::posix::SimStateRootFromEnvironment();
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return RunPhone(root, argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "pair") == 0) return Pair(root, argc, argv);
    if (argc >= 3) return SendCommand(root, argc, argv);
    return Usage();
}
