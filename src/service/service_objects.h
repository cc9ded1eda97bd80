// The composition root: builds the state object of every subsystem of this build and fills the
// application's hooks with their entry points. This is the one place where the subsystems are
// wired to the lifecycle.
#pragma once

#include "platform/platform.h"
#include "channel/result_text.h"
#include "service/ccorvane_app.h"

namespace corvane {

class CServiceObjects {
public:
    explicit CServiceObjects(Platform& platform);
    CServiceObjects(const CServiceObjects&) = delete;
    CServiceObjects& operator=(const CServiceObjects&) = delete;

    // Fills the application's hooks; call once, before InitInstance.
    void Wire(CCorvaneApp& app);

    const CMessageTexts& Texts() const { return m_texts; }

private:
    Platform& m_platform;
    // Texts in the language of the service's account, chosen once at start.
    CMessageTexts m_texts;
};

}  // namespace corvane
