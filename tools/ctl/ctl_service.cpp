// The service verbs: status, stop, power and control, over the control socket of the running
// service under $CORVANE_ROOT.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "audit/audit_database.h"
#include "audit/audit_reader.h"
#include "ctl_commands.h"
#include "ctl_numbers.h"
#include "json_text.h"
#include "platform/posix/control_protocol.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "platform/types.h"
#include "upload/audit_collector_config.h"

namespace corvane::ctl {

namespace {
bool NotRunning(int err) { return err == ENOENT || err == ECONNREFUSED; }

std::string SocketPath() { return posix::StateRoot::FromEnvironment().ControlSocketPath(); }

// Whether a service process still holds the state root: it keeps an exclusive lock on the
// instance lock file from its start until the process ends (the kernel drops it then, however
// the process ends). A shared lock taken and dropped at once tells without disturbing it.
bool ServiceProcessHoldsRoot() {
    const std::string path = posix::StateRoot::FromEnvironment().InstanceLockPath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    while ((rc = ::flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
    }
    const bool held = rc != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

// The audit file's path and why the service cannot keep rows in it; an empty reason when it can
// (or when there is no file yet).
struct AuditTrailProblem {
    std::string path;
    std::string reason;
};

AuditTrailProblem FindAuditTrailProblem() {
    posix::PosixSystem system(posix::StateRoot::FromEnvironment());
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(system, directory, path) != 0) return {};
    return {Utf16ToUtf8(path), ProbeAuditFile(path, kAuditPassphrase)};
}

int Send(const posix::ControlRequest& request, posix::ControlReply& reply) {
    const int err = posix::SendControl(SocketPath(), request, reply);
    if (err == 0) return 0;
    if (NotRunning(err)) return Fail("the service is not running (no control socket at " + SocketPath() + ")");
    return Fail(std::string("control socket: ") + std::strerror(err));
}
}  // namespace

int RunStatus(const Args& args) {
    const bool json = args.size() == 1 && args[0] == "--json";
    if (!args.empty() && !json) return UsageFail("usage: corvane-ctl status [--json]");
    // "4 RUNNING" and, while the audit file cannot be used, a second line that says why; for
    // scripts {"state":4,"name":"RUNNING"} with "audit_off":{"path":...,"reason":...} then.
    auto print = [json](uint32_t state) {
        const AuditTrailProblem audit = FindAuditTrailProblem();
        std::string text;
        if (json) {
            tools::JsonWriter writer;
            writer.BeginObject().Key("state").Number(state).Key("name").String(ServiceStateName(state));
            if (!audit.reason.empty())
                writer.Key("audit_off").BeginObject().Key("path").String(audit.path).Key("reason").String(audit.reason)
                    .EndObject();
            text = writer.EndObject().Text();
        } else {
            text = std::to_string(state) + " " + ServiceStateName(state) + "\n";
            if (!audit.reason.empty()) text += "audit trail off: " + audit.path + " " + audit.reason + "\n";
        }
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
    // One line on the audit shipper while it is configured, from a service that answers the
    // question (without a collector the output stays the one line scripts wait for).
    std::vector<std::string> lines;
    if (!json && posix::SendQuery(SocketPath(), std::string(kAuditShipperQuestion), lines) == 0) {
        for (const std::string& line : lines) {
            if (line != kAuditShipperOffLine) std::printf("%s\n", line.c_str());
        }
    }
    return 0;
}

int RunStop(const Args& args) {
    if (!args.empty()) return UsageFail("usage: corvane-ctl stop");
    posix::ControlReply reply;
    if (int rc = Send({Svc::ControlStop, 0, 0}, reply)) return rc;
    if (reply.result != 0) return Fail("the service refused the stop control (error " + std::to_string(reply.result) + ")");
    // The service reports SERVICE_STOPPED and closes its control socket before its stop
    // sequence runs (up to 15 s); the process has ended only once it lets go of the state root.
    // Returning before that would let a start that follows at once find the root still held.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        posix::ControlReply probe;
        const int err = posix::SendControl(SocketPath(), {Svc::ControlInterrogate, 0, 0}, probe, 1000);
        if (NotRunning(err) && !ServiceProcessHoldsRoot()) {
            std::printf("%u %s\n", Svc::Stopped, ServiceStateName(Svc::Stopped));
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Fail("the service did not stop within 30 s");
}

int RunPower(const Args& args) {
    if (args.size() != 1) return UsageFail("usage: corvane-ctl power resume|suspend|EVENT-TYPE");
    uint32_t eventType = 0;
    if (args[0] == "resume") {
        eventType = Svc::PbtApmResumeAutomatic;
    } else if (args[0] == "suspend") {
        eventType = Svc::PbtApmSuspend;
    } else if (auto n = ParseNumber(args[0])) {
        eventType = *n;
    } else {
        return UsageFail("unknown power event '" + args[0] + "'");
    }
    posix::ControlReply reply;
    if (int rc = Send({Svc::ControlPowerEvent, eventType, 0}, reply)) return rc;
    std::printf("%u\n", reply.result);
    return 0;
}

// Rereads the audit collector's registry values: the same user-defined control as
// "sc control Corvane 200" on Windows.
int RunReload(const Args& args) {
    if (!args.empty()) return UsageFail("usage: corvane-ctl reload");
    posix::ControlReply reply;
    if (int rc = Send({kAuditCollectorReloadControl, 0, 0}, reply)) return rc;
    if (reply.result != 0) return Fail("the service refused the reload control (error " + std::to_string(reply.result) + ")");
    return 0;
}

int RunControl(const Args& args) {
    if (args.empty() || args.size() > 3) return UsageFail("usage: corvane-ctl control CODE [EVENT-TYPE [SESSION-ID]]");
    uint32_t values[3] = {0, 0, 0};
    for (size_t i = 0; i < args.size(); ++i) {
        auto n = ParseNumber(args[i]);
        if (!n) return UsageFail("not a number: '" + args[i] + "'");
        values[i] = *n;
    }
    posix::ControlReply reply;
    if (int rc = Send({values[0], values[1], values[2]}, reply)) return rc;
    std::printf("%u\n", reply.result);
    return 0;
}

}  // namespace corvane::ctl
