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

    // Takes a reference for the map and stores the device under its id. A device already stored
    // under the id is left in place and the new one is not stored (false). Creators that race
    // for one id use FindOrAdd instead.
    bool Add(CDevTovrel* device);
    // Find-or-add in one step under the map mutex, for a creator that has just constructed a
    // device (its worker not yet started) because Find came back empty. When the id is still
    // free, `created` is stored (the map takes its reference) and returned with `added` true:
    // the caller then starts its worker. When another creator came first, `created` is released
    // (its worker never ran, so it is destroyed) and the stored device is returned with `added`
    // false. Either way the caller holds a reference of its own, given back with Release.
    CDevTovrel* FindOrAdd(CDevTovrel* created, bool& added);
    // The device with that id, with a reference taken for the caller, or null.
    CDevTovrel* Find(std::u16string_view id);
    // Takes out the entry of this very device, without touching its references. True when the
    // map held it: only then does the map's reference pass to the caller. An entry under the
    // same id that holds another device is left alone.
    bool Remove(const CDevTovrel& device);
    // The end of a device's worker: takes the device out of the map under the map mutex, then,
    // with the mutex released, drops the map's reference (when the map held it) and the worker's
    // own. Either may destroy it; a destruction never runs under the map mutex.
    void EndWorker(CDevTovrel* device);
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

// A logon through a device the service did not watch yet: enters `created` into the map (or,
// when another creator came first, uses the device that creator entered), gives the device the
// logon option of (user, domain) and starts the worker of a device it entered. The worker starts
// only once the device is in the map, so it can never end before it is there.
void AddLogonOptionToCreated(DeviceMap& map, CDevTovrel* created, std::u16string_view user,
                             std::u16string_view domain, int32_t option, int32_t delay);

}  // namespace corvane
