// Process snapshot and termination, and the service control manager for a foreign service.
#pragma once

#include "platform/pc_software.h"

namespace corvane::win32 {

class Win32PcSoftware final : public IPcSoftware {
public:
    uint32_t TerminateProcessNamed(std::u16string_view exeName) override;
    uint32_t QueryServiceState(std::u16string_view service, uint32_t& state) override;
    uint32_t StopService(std::u16string_view service) override;
};

}  // namespace corvane::win32
