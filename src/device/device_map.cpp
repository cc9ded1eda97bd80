#include "device/device_map.h"

#include <vector>

namespace corvane {

DeviceMap::DeviceMap(Configuration& config) : m_config(config) {}

DeviceMap::~DeviceMap() { Clear(); }

bool DeviceMap::Add(CDevTovrel* device) {
    if (device == nullptr) return false;
    MutexGuard lock(Mutex());
    auto [it, inserted] = m_map.emplace(device->GetId(), device);
    if (inserted) device->AddRef();
    return inserted;
}

CDevTovrel* DeviceMap::FindOrAdd(CDevTovrel* created, bool& added) {
    added = false;
    if (created == nullptr) return nullptr;
    CDevTovrel* stored = nullptr;
    {
        MutexGuard lock(Mutex());
        auto [it, inserted] = m_map.emplace(created->GetId(), created);
        stored = it->second;
        if (inserted) stored->AddRef();  // the map's reference
        stored->AddRef();                // the caller's
        added = inserted;
    }
    if (!added) Release(created);  // the loser's device: its worker never ran
    return stored;
}

CDevTovrel* DeviceMap::Find(std::u16string_view id) {
    MutexGuard lock(Mutex());
    auto it = m_map.find(std::u16string(id));
    if (it == m_map.end()) return nullptr;
    it->second->AddRef();
    return it->second;
}

bool DeviceMap::Remove(const CDevTovrel& device) {
    MutexGuard lock(Mutex());
    auto it = m_map.find(device.GetId());
    if (it == m_map.end() || it->second != &device) return false;
    m_map.erase(it);
    return true;
}

void DeviceMap::EndWorker(CDevTovrel* device) {
    if (device == nullptr) return;
    bool held = false;
    {
        MutexGuard lock(Mutex());
        held = Remove(*device);
    }
    // The references are dropped once the map mutex is free again: the last one destroys the
    // device, and a phone's destruction waits for the library's CloseDevice, which may itself wait
    // for a signal callback that needs the map mutex.
    if (held) Release(device);
    Release(device);
}

void DeviceMap::Release(CDevTovrel* device) {
    if (device != nullptr && device->DropRef()) delete device;
}

void DeviceMap::ForEach(const std::function<void(CDevTovrel&)>& visit) {
    MutexGuard lock(Mutex());
    for (auto& [id, device] : m_map) visit(*device);
}

bool DeviceMap::ForEachUntil(const std::function<bool(CDevTovrel&)>& visit) {
    MutexGuard lock(Mutex());
    for (auto& [id, device] : m_map) {
        if (visit(*device)) return true;
    }
    return false;
}

void DeviceMap::ForEachReferenced(const std::function<void(CDevTovrel*)>& take) {
    std::vector<CDevTovrel*> devices;
    {
        MutexGuard lock(Mutex());
        devices.reserve(m_map.size());
        for (auto& [id, device] : m_map) {
            device->AddRef();
            devices.push_back(device);
        }
    }
    for (CDevTovrel* device : devices) take(device);
}

bool DeviceMap::IsEmpty() {
    MutexGuard lock(Mutex());
    return m_map.empty();
}

size_t DeviceMap::Count() {
    MutexGuard lock(Mutex());
    return m_map.size();
}

void DeviceMap::Clear() {
    std::unordered_map<std::u16string, CDevTovrel*> taken;
    {
        MutexGuard lock(Mutex());
        taken.swap(m_map);
    }
    for (auto& [id, device] : taken) Release(device);
}

void AddLogonOptionToCreated(DeviceMap& map, CDevTovrel* created, std::u16string_view user,
                             std::u16string_view domain, int32_t option, int32_t delay) {
    bool added = false;
    CDevTovrel* device = map.FindOrAdd(created, added);
    if (device == nullptr) return;
    device->AddLogonOption(user, domain, option, delay);
    if (added) device->StartWorker();
    DeviceMap::Release(device);
}

}  // namespace corvane
