// Another vendor's PC-connectivity software, which can hold a phone's Bluetooth connection: its
// processes (a process snapshot, then OpenProcess and TerminateProcess) and its service (the
// service control manager: query the state, send the stop control). POSIX simulates both under
// the state root.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

// SERVICE_STOPPED and SERVICE_RUNNING.
namespace ForeignServiceState {
constexpr uint32_t Stopped = 1;
constexpr uint32_t Running = 4;
}  // namespace ForeignServiceState

class IPcSoftware {
public:
    virtual ~IPcSoftware() = default;
    // Ends the first process whose executable name equals `exeName` (ignoring case) with exit
    // code 0. 0, or ERROR_NOT_FOUND (1168) when there is none, or another Windows error.
    virtual uint32_t TerminateProcessNamed(std::u16string_view exeName) = 0;
    // QueryServiceStatus of the named service: 0 with its state, or a Windows error (1060 when
    // there is no such service).
    virtual uint32_t QueryServiceState(std::u16string_view service, uint32_t& state) = 0;
    // ControlService(SERVICE_CONTROL_STOP): 0 or a Windows error.
    virtual uint32_t StopService(std::u16string_view service) = 0;
};

}  // namespace corvane
