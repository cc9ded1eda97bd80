#include "platform/types.h"

namespace corvane {

const char* ServiceStateName(uint32_t state) {
    switch (state) {
        case Svc::Stopped: return "STOPPED";
        case Svc::StartPending: return "START_PENDING";
        case Svc::StopPending: return "STOP_PENDING";
        case Svc::Running: return "RUNNING";
        case Svc::ContinuePending: return "CONTINUE_PENDING";
        case Svc::PausePending: return "PAUSE_PENDING";
        case Svc::Paused: return "PAUSED";
        default: return "UNKNOWN";
    }
}

}  // namespace corvane
