// Takes the copy of what the service knows that corvane-ctl shows: each table is read under its
// own lock, in the order nested locks are always taken (paired device list, session table,
// network device table, DeviceMap, then a device's own locks), and copied out; nothing is sent
// while a lock is held.
#pragma once

#include "platform/service_host.h"
#include "service/service_snapshot.h"

namespace corvane {

class CNetDeviceTable;
class CSessionMonitor;
class DeviceMap;
class IClock;
struct Configuration;

struct SnapshotSources {
    Configuration& config;
    IClock& clock;
    CNetDeviceTable* netDevices = nullptr;
    DeviceMap* devices = nullptr;
    CSessionMonitor* sessions = nullptr;
};

// The phones on the local network, then the devices of DeviceMap, each with its logon options.
ServiceSnapshot CollectDeviceSnapshot(SnapshotSources& sources);
// The records of the session table and the console user.
ServiceSnapshot CollectSessionSnapshot(SnapshotSources& sources);
// Answers "devices" and "sessions" with the encoded copy; other questions are not known.
ServiceQueryHandler MakeSnapshotQueryHandler(SnapshotSources sources);

}  // namespace corvane
