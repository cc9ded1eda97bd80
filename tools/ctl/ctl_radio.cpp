// corvane-ctl radio on|off: switches the simulated Bluetooth radio of the state root, which the
// service's radio monitor and the BLE library stand-in follow.
#include "ctl_commands.h"
#include "platform/posix/posix_bluetooth_radios.h"
#include "platform/posix/sim_radio.h"
#include "platform/posix/state_root.h"

#include <cstdio>

namespace corvane::ctl {

int RunRadio(const Args& args) {
    const posix::StateRoot root = posix::StateRoot::FromEnvironment();
    if (args.empty()) {
        std::printf("radio %s, adapters %s\n", posix::SimRadioOn(root.root) ? "on" : "off",
                    posix::SimAdaptersEnabled(root.root) ? "enabled" : "disabled");
        return 0;
    }
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return UsageFail("usage: radio on|off");
    posix::PosixBluetoothRadios radios(root);
    if (radios.SetRadioOn(args[0] == "on") != 0) return Fail("cannot switch the radio");
    return 0;
}

}  // namespace corvane::ctl
