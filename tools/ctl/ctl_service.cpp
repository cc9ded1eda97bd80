// The service verbs: status, stop, power and control, over the control socket of the running
// service under $CORVANE_ROOT.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ctl_commands.h"
#include "ctl_numbers.h"
#include "json_text.h"
#include "platform/posix/control_protocol.h"
#include "platform/posix/state_root.h"
#include "platform/types.h"

namespace corvane::ctl {

namespace {
bool NotRunning(int err) { return err == ENOENT || err == ECONNREFUSED; }

std::string SocketPath() { return posix::StateRoot::FromEnvironment().ControlSocketPath(); }

int Send(const posix::ControlRequest& request, posix::ControlReply& reply) {
    const int err = posix::SendControl(SocketPath(), request, reply);
    if (err == 0) return 0;
    if (NotRunning(err)) return Fail("the service is not running (no control socket at " + SocketPath() + ")");
    return Fail(std::string("control socket: ") + std::strerror(err));
}
}  // namespace

int RunStatus(const Args& args) {
    const bool json = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !json) return Fail("usage: corvane-ctl status [--json]");
    // "4 RUNNING", or {"state":4,"name":"RUNNING"} for scripts.
    auto print = [json](uint32_t state) {
        const std::string text = json ? tools::JsonWriter().BeginObject().Key("state").Number(state).Key("name")
                                            .String(ServiceStateName(state)).EndObject().Text()
                                      : std::to_string(state) + " " + ServiceStateName(state) + "\n";
        std::fputs(text.c_str(), stdout);
    };
    posix::ControlReply reply;
    const int err = posix::SendControl(SocketPath(), {Svc::ControlInterrogate, 0, 0}, reply);
    if (NotRunning(err)) {
        print(Svc::Stopped);
        return 0;
    }
    if (err != 0) return Fail(std::string("control socket: ") + std::strerror(err));
    print(reply.state);
    return 0;
}

int RunStop(const Args& args) {
    if (!args.empty()) return Fail("usage: corvane-ctl stop");
    posix::ControlReply reply;
    if (int rc = Send({Svc::ControlStop, 0, 0}, reply)) return rc;
    if (reply.result != 0) return Fail("the service refused the stop control (error " + std::to_string(reply.result) + ")");
    // Wait until the service has stopped serving controls (its process is ending).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        posix::ControlReply probe;
        const int err = posix::SendControl(SocketPath(), {Svc::ControlInterrogate, 0, 0}, probe, 1000);
        if (NotRunning(err)) {
            std::printf("%u %s\n", Svc::Stopped, ServiceStateName(Svc::Stopped));
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Fail("the service did not stop within 30 s");
}

int RunPower(const Args& args) {
    if (args.size() != 1) return Fail("usage: corvane-ctl power resume|suspend|EVENT-TYPE");
    uint32_t eventType = 0;
    if (args[0] == "resume") {
        eventType = Svc::PbtApmResumeAutomatic;
    } else if (args[0] == "suspend") {
        eventType = Svc::PbtApmSuspend;
    } else if (auto n = ParseNumber(args[0])) {
        eventType = *n;
    } else {
        return Fail("unknown power event '" + args[0] + "'");
    }
    posix::ControlReply reply;
    if (int rc = Send({Svc::ControlPowerEvent, eventType, 0}, reply)) return rc;
    std::printf("%u\n", reply.result);
    return 0;
}

int RunControl(const Args& args) {
    if (args.empty() || args.size() > 3) return Fail("usage: corvane-ctl control CODE [EVENT-TYPE [SESSION-ID]]");
    uint32_t values[3] = {0, 0, 0};
    for (size_t i = 0; i < args.size(); ++i) {
        auto n = ParseNumber(args[i]);
        if (!n) return Fail("not a number: '" + args[i] + "'");
        values[i] = *n;
    }
    posix::ControlReply reply;
    if (int rc = Send({values[0], values[1], values[2]}, reply)) return rc;
    std::printf("%u\n", reply.result);
    return 0;
}

}  // namespace corvane::ctl
