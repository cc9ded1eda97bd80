// Bluetooth radio enumeration (BluetoothFindFirstRadio) and the USB adapters of the Bluetooth
// device setup class enabled or disabled through SetupDi.
#pragma once

#include "platform/bluetooth_radios.h"

namespace corvane::win32 {

class Win32BluetoothRadios final : public IBluetoothRadios {
public:
    bool IsRadioPresent() override;
    uint32_t SetAdaptersEnabled(bool enable) override;
};

}  // namespace corvane::win32
