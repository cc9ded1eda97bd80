// The Bluetooth radio and its adapters as the BLE service watches them: whether a radio is
// present (BluetoothFindFirstRadio), and enabling or disabling the USB Bluetooth adapters
// (SetupDi calls on the Bluetooth device class). POSIX keeps a simulated radio and adapter state
// under the state root.
#pragma once

#include <cstdint>

namespace corvane {

class IBluetoothRadios {
public:
    virtual ~IBluetoothRadios() = default;
    // Enumerates the radios; true when one yields a handle (closed again at once).
    virtual bool IsRadioPresent() = 0;
    // Enables or disables every present USB Bluetooth adapter (an instance ID with "VID_" and
    // "PID_" after its first character). 0 when the last change succeeded, else an error.
    virtual uint32_t SetAdaptersEnabled(bool enable) = 0;
};

}  // namespace corvane
