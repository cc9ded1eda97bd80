#include <cstdio>
#include <cstring>
#include <string>

#include "ctl_commands.h"
#include "wire/program_args.h"

namespace corvane::ctl {

int Fail(const std::string& message) {
    std::fprintf(stderr, "corvane-ctl: %s\n", message.c_str());
    return kExitFailure;
}

int UsageFail(const std::string& message) {
    std::fprintf(stderr, "corvane-ctl: %s\n", message.c_str());
    return kExitUsage;
}

namespace {
struct Verb {
    const char* name;
    int (*run)(const Args&);
    const char* usage;
};

// One line per verb; new verbs are added here.
const Verb kVerbs[] = {
    {"status", RunStatus, "status [--json]"},
    {"stop", RunStop, "stop"},
    {"power", RunPower, "power resume|suspend|EVENT-TYPE"},
    {"control", RunControl, "control CODE [EVENT-TYPE [SESSION-ID]]"},
    {"reg", RunReg, "reg add|query|delete KEY [/v NAME] [/t TYPE] [/d DATA]"},
    {"session", RunSession, "session logon USER DOMAIN [--rdp] | lock|unlock|connect|disconnect|logoff ID | idle ID MS | list | ..."},
    {"audit", RunAudit, "audit [--last N] [--csv|--json] [--raw] | audit --pending"},
    {"reload", RunReload, "reload"},
    {"stream", RunStream, "stream CODE [STATUS] [HEX] [--keyed] [--port PORT]"},
    {"ble-status", RunBleStatus, "ble-status [--keyed] [--port PORT]"},
    {"relay", RunRelay, "relay DEVICE-ID logon|unlock|relogon USER DOMAIN [--option N] [--delay S] [--name TEXT]"},
    {"radio", RunRadio, "radio [on|off]"},
    {"token", RunToken, "token slots|state SLOT|containers SLOT [--keyed] [--port PORT]"},
    {"devices", RunDevices, "devices [--json]"},
    {"sessions", RunSessions, "sessions [--json]"},
    {"report-logon", RunReportLogon,
     "report-logon USER DOMAIN --card READER --serial SERIAL | --phone DEVICE-ID [--option N] [--delay S]"},
};

int Usage(FILE* out, int exitCode) {
    std::fprintf(out, "usage: corvane-ctl VERB ...   (state root: $CORVANE_ROOT, default /)\n");
    for (const auto& v : kVerbs) std::fprintf(out, "  corvane-ctl %s\n", v.usage);
    std::fprintf(out, "  corvane-ctl --help | --version\n"
                      "Exit code 0 on success, 1 when the verb failed, 2 for bad use.\n");
    return exitCode;
}
}  // namespace

}  // namespace corvane::ctl

int main(int argc, char** argv) {
    using namespace corvane::ctl;
    switch (corvane::HelpOrVersionWord(argc, argv)) {
        case corvane::ProgramWord::Help: return Usage(stdout, corvane::kExitOk);
        case corvane::ProgramWord::Version:
            std::printf("corvane-ctl %s\n", corvane::kProductVersion.data());
            return corvane::kExitOk;
        case corvane::ProgramWord::None: break;
    }
    if (argc < 2) return Usage(stderr, corvane::kExitUsage);
    for (const auto& v : kVerbs) {
        if (std::strcmp(argv[1], v.name) == 0) return v.run(Args(argv + 2, argv + argc));
    }
    return UsageFail(std::string("unknown verb '") + argv[1] + "' (corvane-ctl --help lists the verbs)");
}
