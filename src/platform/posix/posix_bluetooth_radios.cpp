#include "platform/posix/posix_bluetooth_radios.h"

#include <string>

#include "platform/posix/sim_radio.h"

namespace corvane::posix {

namespace {
uint32_t WriteWord(const StateRoot& root, const char* name, const std::string& word) {
    const std::string dir = SimBluetoothDir(root.root);
    if (int err = MakeDirectories(dir)) return ErrnoToWinError(err);
    const std::string text = word + "\n";
    if (int err = WriteFileAtomic(dir + "/" + name, text.data(), text.size())) return ErrnoToWinError(err);
    return 0;
}
}  // namespace

bool PosixBluetoothRadios::IsRadioPresent() { return SimRadioPresent(m_root.root); }

uint32_t PosixBluetoothRadios::SetAdaptersEnabled(bool enable) {
    return WriteWord(m_root, "adapters", enable ? "enabled" : "disabled");
}

uint32_t PosixBluetoothRadios::SetRadioOn(bool on) { return WriteWord(m_root, "radio", on ? "on" : "off"); }

}  // namespace corvane::posix
