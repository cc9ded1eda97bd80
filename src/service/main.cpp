// The service program. Started by the service manager it runs the service until a stop control;
// started with a verb (-install, /uninstall) it installs or removes itself. The process ends with
// the application's exit code: 0 after a normal run or a successful verb, -1 after a failed verb,
// -2 when the dispatcher could not start.
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"

int main(int argc, char** argv) {
    using namespace corvane;
    // Owned for the whole process: worker threads are never joined, so these objects must outlive
    // them; the process ends without destroying them, as it would on Windows.
    auto* native = CreateNativePlatform().release();
    native->SetArguments(argc, argv);
    auto* objects = new CServiceObjects(native->Get());
    auto* app = new CCorvaneApp(native->Get(), {});
    objects->Wire(*app);
    app->InitInstance();
    const int exitCode = app->ExitInstance();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
