// The simulated Bluetooth radio of the POSIX state root, shared by the service, corvane-ctl and
// the BLE library stand-in: <root>/var/lib/corvane/bluetooth/radio holds "on" or "off", and
// .../adapters "enabled" or "disabled". A missing file means on and enabled, so a fresh state
// root has one radio, switched on. The radio is present while it is on and its adapter enabled.
// Header only, so the library stand-in can use it without linking the platform.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace corvane::posix {

inline std::string SimBluetoothDir(const std::string& root) { return root + "/var/lib/corvane/bluetooth"; }

// The state root as the programs find it: $CORVANE_ROOT, default "/" (returned without the slash).
inline std::string SimStateRootFromEnvironment() {
    const char* env = std::getenv("CORVANE_ROOT");
    std::string root = env && *env ? env : "";
    while (!root.empty() && root.back() == '/') root.pop_back();
    return root;
}

// True unless the file holds `offWord` as its first word.
inline bool SimFlagSet(const std::string& path, const char* offWord) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return true;
    char word[16] = {};
    const bool read = std::fscanf(f, "%15s", word) == 1;
    std::fclose(f);
    return !(read && std::strcmp(word, offWord) == 0);
}

inline bool SimRadioOn(const std::string& root) { return SimFlagSet(SimBluetoothDir(root) + "/radio", "off"); }
inline bool SimAdaptersEnabled(const std::string& root) {
    return SimFlagSet(SimBluetoothDir(root) + "/adapters", "disabled");
}
inline bool SimRadioPresent(const std::string& root) { return SimRadioOn(root) && SimAdaptersEnabled(root); }

}  // namespace corvane::posix
