// What the running service knows right now, as corvane-ctl shows it: the devices it watches (the
// phones on the local network, the phones over Bluetooth LE, the card readers, each with its
// logon options) and the sessions of its session table. The service copies the tables out under
// their own locks and sends the copy as text lines over the control socket; the tool parses them
// back. Strings are UTF-8.
//
// One record per line, fields separated by a tab; inside a field a tab, line end, carriage return
// and backslash are written \t, \n, \r and \\. The first field names the record:
//   now      <unix seconds>
//   console  <identity of the user active on the console, or empty>
//   lan      <id> <name> <paired> <address> <port> <value> <last seen, unix seconds>
//   ble      <id> <name> <paired> <connected> <present> <closed> <keyed> <lost for ms> <have rssi> <rssi>
//   card     <id> <reader> <serial> <removed> <removed for ms>
//   option   <user> <domain> <option> <delay> <handled>       (of the device record before it)
//   session  <id> <user> <domain> <station> <state> <desktop> <upn> <logon> <active> <locked>
// Flags are 0 or 1; the session times are FILETIME values (0 when not known).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct SnapshotOption {
    std::string user;
    std::string domain;
    int32_t option = 0;  // 0 nothing, 1 lock, 2 log off, negative: away lock below this dBm
    int32_t delay = 0;   // seconds
    bool handled = false;
};

struct SnapshotDevice {
    uint32_t kind = 0;  // 1 phone on the local network, 2 phone over Bluetooth LE, 3 card reader
    std::string id;
    std::string name;   // the phone's name, or the reader's
    bool paired = false;  // a phone on the local network: its id is in the paired device list
    // A phone on the local network.
    std::string address;
    uint16_t port = 0;
    uint32_t value = 0;
    int64_t lastSeen = 0;  // unix seconds
    // A phone over Bluetooth LE.
    bool connected = false;
    bool present = false;
    bool closed = false;
    bool keyed = false;      // its active channel has a session key
    uint32_t lostForMs = 0;  // 0 while present
    bool haveRssi = false;
    int16_t rssi = 0;        // dBm, the last sample
    // A card reader.
    std::string serial;      // the token serial the device id stands for
    bool removed = false;
    uint32_t removedForMs = 0;
    std::vector<SnapshotOption> options;
};

struct SnapshotSession {
    int32_t session = 0;
    std::string user;
    std::string domain;
    std::string station;
    int32_t state = 0;    // 5 active, 7 locked or not active, 6 logged off, 0 not known
    int32_t desktop = 0;  // 1 console, 2 remote desktop, 0 unknown
    std::string upn;
    int64_t logon = 0;  // FILETIME
    int64_t active = 0;
    int64_t locked = 0;
};

struct ServiceSnapshot {
    int64_t now = 0;  // unix seconds at the service when the copy was taken
    std::string consoleUser;
    std::vector<SnapshotDevice> devices;
    std::vector<SnapshotSession> sessions;
};

std::vector<std::string> EncodeSnapshot(const ServiceSnapshot& snapshot);
// Nothing for a line that is not one of the records above (an unknown name, a wrong number of
// fields, a number out of range, an option before any device).
std::optional<ServiceSnapshot> DecodeSnapshot(const std::vector<std::string>& lines);

// One field as a record carries it, and back (nothing for a stray backslash).
std::string EscapeSnapshotField(const std::string& text);
std::optional<std::string> UnescapeSnapshotField(const std::string& text);

}  // namespace corvane
