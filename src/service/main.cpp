// The service program. Started by the service manager it runs the service until a stop control;
// started with a verb (-install, /uninstall) it installs or removes itself. The process ends with
// the application's exit code: 0 after a normal run or a successful verb, -1 after a failed verb,
// -2 when the dispatcher could not start. "--help", "-h", "/?" or "--version" as the whole
// argument list print the usage or the version and exit 0 before anything else runs; a state root
// that cannot be used ends the program with a one-line error and exit code 1.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "wire/program_args.h"

namespace {
constexpr const char* kUsage =
    "usage: corvane              run as the service (the service manager starts it so)\n"
    "       corvane -install     install the service (also /install)\n"
    "       corvane -uninstall   stop and remove the service (also /uninstall)\n"
    "       corvane --help | --version\n";
}  // namespace

int main(int argc, char** argv) {
    using namespace corvane;
    switch (HelpOrVersionWord(argc, argv)) {
        case ProgramWord::Help: std::fputs(kUsage, stdout); return kExitOk;
        case ProgramWord::Version: std::printf("corvane %s\n", kProductVersion.data()); return kExitOk;
        case ProgramWord::None: break;
    }
    // Owned for the whole process: worker threads are never joined, so these objects must outlive
    // them; the process ends without destroying them, as it would on Windows.
    auto owned = CreateNativePlatform();
    if (const std::string problem = owned->StartProblem(); !problem.empty()) {
        // Nothing has started yet: the platform is freed like any other object.
        std::fprintf(stderr, "corvane: %s\n", problem.c_str());
        return kExitFailure;
    }
    auto* native = owned.release();
    native->SetArguments(argc, argv);
    auto* objects = new CServiceObjects(native->Get());
    auto* app = new CCorvaneApp(native->Get(), {});
    objects->Wire(*app);
    app->InitInstance();
    const int exitCode = app->ExitInstance();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
