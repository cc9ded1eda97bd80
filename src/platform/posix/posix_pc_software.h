// The simulated PC-connectivity software under the state root: <root>/var/lib/corvane/pcsoftware/
// "processes" lists running executables, one name per line; "services/<name>" holds a foreign
// service's state word ("running", "stop-pending" or "stopped"). A stop control turns "running"
// into "stopped".
#pragma once

#include "platform/pc_software.h"
#include "platform/posix/state_root.h"

namespace corvane::posix {

class PosixPcSoftware final : public IPcSoftware {
public:
    explicit PosixPcSoftware(StateRoot root) : m_root(std::move(root)) {}
    uint32_t TerminateProcessNamed(std::u16string_view exeName) override;
    uint32_t QueryServiceState(std::u16string_view service, uint32_t& state) override;
    uint32_t StopService(std::u16string_view service) override;

private:
    std::string Dir() const { return m_root.Path("var/lib/corvane/pcsoftware"); }
    StateRoot m_root;
};

}  // namespace corvane::posix
