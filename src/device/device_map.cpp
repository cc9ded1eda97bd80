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

CDevTovrel* DeviceMap::Find(std::u16string_view id) {
    MutexGuard lock(Mutex());
    auto it = m_map.find(std::u16string(id));
    if (it == m_map.end()) return nullptr;
    it->second->AddRef();
    return it->second;
}

bool DeviceMap::Remove(std::u16string_view id) {
    MutexGuard lock(Mutex());
    return m_map.erase(std::u16string(id)) != 0;
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

}  // namespace corvane
