// The composition root: builds the state object of every subsystem of this build and fills the
// application's hooks with their entry points. This is the one place where the subsystems are
// wired to the lifecycle.
#pragma once

#include "platform/platform.h"
#include "service/ccorvane_app.h"

namespace corvane {

class CServiceObjects {
public:
    explicit CServiceObjects(Platform& platform);
    CServiceObjects(const CServiceObjects&) = delete;
    CServiceObjects& operator=(const CServiceObjects&) = delete;

    // Fills the application's hooks; call once, before InitInstance.
    void Wire(CCorvaneApp& app);

private:
    Platform& m_platform;
};

}  // namespace corvane
