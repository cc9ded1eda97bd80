// The simulated radio and adapters under the state root (see sim_radio.h).
#pragma once

#include "platform/bluetooth_radios.h"
#include "platform/posix/state_root.h"

namespace corvane::posix {

class PosixBluetoothRadios final : public IBluetoothRadios {
public:
    explicit PosixBluetoothRadios(StateRoot root) : m_root(std::move(root)) {}
    bool IsRadioPresent() override;
    uint32_t SetAdaptersEnabled(bool enable) override;
    // corvane-ctl radio on|off.
    uint32_t SetRadioOn(bool on);

private:
    StateRoot m_root;
};

}  // namespace corvane::posix
