#include "phone/net_device_table.h"

#include "platform/file_time.h"
#include "platform/text.h"

namespace corvane {

CNetDeviceTable::CNetDeviceTable(IClock& clock, const MutexHandle& devNetMutex)
    : m_clock(clock), m_hDevNetMutex(devNetMutex) {}

int64_t CNetDeviceTable::NowSeconds() { return FileTimeToUnixSeconds(m_clock.GetSystemTimeAsFileTime()); }

void CNetDeviceTable::AnnounceNetDevice(std::u16string_view id, std::u16string_view name, uint16_t port,
                                        uint32_t value, std::u16string_view address) {
    MutexGuard lock(m_hDevNetMutex);
    const int64_t now = NowSeconds();
    auto it = m_mapDevNet.find(id);
    if (it != m_mapDevNet.end()) {
        CDevNet& dev = *it->second;
        if (!EqualsNoCase(dev.m_strName, name)) dev.m_strName = name;
        if (!EqualsNoCase(dev.m_strAddress, address)) dev.m_strAddress = address;
        dev.m_wPort = port;
        dev.m_dwValue = value;
        dev.m_tLastSeen = now;
        return;
    }
    auto dev = std::make_unique<CDevNet>();
    dev->m_strId = id;
    dev->m_strName = name;
    dev->m_strAddress = address;
    dev->m_wPort = port;
    dev->m_dwValue = value;
    dev->m_tLastSeen = now;
    m_mapDevNet.emplace(dev->m_strId, std::move(dev));
}

void CNetDeviceTable::WithdrawNetDevice(std::u16string_view id) {
    MutexGuard lock(m_hDevNetMutex);
    auto it = m_mapDevNet.find(id);
    if (it != m_mapDevNet.end()) m_mapDevNet.erase(it);
}

void CNetDeviceTable::AgeNetDevices() {
    MutexGuard lock(m_hDevNetMutex);
    const int64_t now = NowSeconds();
    for (auto it = m_mapDevNet.begin(); it != m_mapDevNet.end();) {
        CDevNet& dev = *it->second;
        if (now < dev.m_tLastSeen) dev.m_tLastSeen = now;
        if (now - dev.m_tLastSeen > kNetDeviceLifetimeSeconds) {
            it = m_mapDevNet.erase(it);
        } else {
            ++it;
        }
    }
}

bool CNetDeviceTable::AddNetLogonOption(std::u16string_view id, std::u16string_view user, std::u16string_view domain,
                                        int32_t option, int32_t delay) {
    MutexGuard lock(m_hDevNetMutex);
    auto it = m_mapDevNet.find(id);
    if (it == m_mapDevNet.end()) return false;
    AddLogonOption(it->second->m_arrLogonOpt, m_clock, user, domain, option, delay);
    return true;
}

void CNetDeviceTable::RemoveNetLogonOption(std::u16string_view user, std::u16string_view domain) {
    MutexGuard lock(m_hDevNetMutex);
    for (auto& [id, dev] : m_mapDevNet) RemoveLogonOption(dev->m_arrLogonOpt, user, domain);
}

void CNetDeviceTable::ClearNetDevices() {
    MutexGuard lock(m_hDevNetMutex);
    m_mapDevNet.clear();
}

size_t CNetDeviceTable::Count() {
    MutexGuard lock(m_hDevNetMutex);
    return m_mapDevNet.size();
}

bool CNetDeviceTable::WithNetDevice(std::u16string_view id, const std::function<void(const CDevNet&)>& visit) {
    MutexGuard lock(m_hDevNetMutex);
    auto it = m_mapDevNet.find(id);
    if (it == m_mapDevNet.end()) return false;
    visit(*it->second);
    return true;
}

void CNetDeviceTable::ForEachNetDevice(const std::function<void(const CDevNet&)>& visit) {
    MutexGuard lock(m_hDevNetMutex);
    for (const auto& entry : m_mapDevNet) visit(*entry.second);
}

}  // namespace corvane
