// DeviceMap: every live device, keyed by device id (compared exactly). Each entry holds one
// reference to its device. The named mutex "_MUTEX_CORVANE_SVR_G_Var_DevTovrel_" guards the map;
// it is recursive, so a caller that already holds it (the stop sequence, the session monitor's
// walks) may call these operations too. Device operations called during a walk must never take
// the map mutex themselves.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "config/configuration.h"
#include "device/cdev_tovrel.h"

namespace corvane {

class DeviceMap {
public:
    // Guards itself with the configuration's m_hDevTovrelMutex (opened at start; until then, and
    // when it could not be opened, the map proceeds unlocked as the named mutexes do).
    explicit DeviceMap(Configuration& config);
    ~DeviceMap();
    DeviceMap(const DeviceMap&) = delete;
    DeviceMap& operator=(const DeviceMap&) = delete;

    // Takes a reference for the map and stores the device under its id. Called only after Find
    // for that id returned nothing; a device already stored under the id is left in place and
    // the new one is not stored (false).
    bool Add(CDevTovrel* device);
    // The device with that id, with a reference taken for the caller, or null.
    CDevTovrel* Find(std::u16string_view id);
    // Takes the entry out without touching the device's references. True when there was one:
    // only then does the map's reference pass to the caller (the device's worker at its end).
    bool Remove(std::u16string_view id);
    // Gives one reference back; the last one destroys the device.
    static void Release(CDevTovrel* device);

    // Walks every device under the map mutex.
    void ForEach(const std::function<void(CDevTovrel&)>& visit);
    // Walks the devices under the map mutex until `visit` returns true; true when one did.
    bool ForEachUntil(const std::function<bool(CDevTovrel&)>& visit);
    // Takes a reference on every device under the map mutex and hands each to `take` (which must
    // see to its Release), after the mutex is free again.
    void ForEachReferenced(const std::function<void(CDevTovrel*)>& take);

    bool IsEmpty();
    size_t Count();
    // At process exit: every entry is removed and the map's reference given back. A device whose
    // worker is still running keeps the worker's reference, so it is never destroyed under it.
    void Clear();

    INamedMutex* Mutex() { return m_config.m_hDevTovrelMutex.get(); }

private:
    Configuration& m_config;
    std::unordered_map<std::u16string, CDevTovrel*> m_map;
};

}  // namespace corvane
