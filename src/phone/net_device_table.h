// The network device table: one CDevNet per phone that announces itself on the local network,
// keyed by device ID (exact comparison), dropped once more than 13 seconds have passed since its
// last announcement. The named mutex "_MUTEX_CORVANE_SVR_G_Var_DevNet_" guards the map and every
// entry; every operation takes it itself (it is recursive, so callers may already hold it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "wire/reply_arena.h"
#include "phone/cdev_net.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"

namespace corvane {

// An entry is dropped once more than this many seconds have passed since its last announcement.
inline constexpr int64_t kNetDeviceLifetimeSeconds = 13;

class CNetDeviceTable {
public:
    // `devNetMutex` is the configuration's handle, read at every use (it is opened after the table
    // is built, when the service starts).
    CNetDeviceTable(IClock& clock, const MutexHandle& devNetMutex);
    CNetDeviceTable(const CNetDeviceTable&) = delete;
    CNetDeviceTable& operator=(const CNetDeviceTable&) = delete;

    // Presence announcement: refresh the entry (name and address replaced only when they differ
    // ignoring case) or create it.
    void AnnounceNetDevice(std::u16string_view id, std::u16string_view name, uint16_t port, uint32_t value,
                           std::u16string_view address);
    // Presence withdrawal; an unknown ID is ignored.
    void WithdrawNetDevice(std::u16string_view id);
    // Housekeeping: drops entries not announced for more than 13 s; a clock that went back pulls
    // the last-seen times down with it.
    void AgeNetDevices();
    // Records a successful logon through the phone (upsert by user and domain); nothing when the
    // phone is not in the table. False in that case.
    bool AddNetLogonOption(std::u16string_view id, std::u16string_view user, std::u16string_view domain,
                           int32_t option, int32_t delay);
    // The user left the console: removes that user's option from every entry.
    void RemoveNetLogonOption(std::u16string_view user, std::u16string_view domain);
    // The network device list reply (0xC001) from the request's arena: 0, 0x80090020 for an entry
    // whose ID cannot be listed, 0x8009000E or -102 when memory runs out.
    int32_t ListNetDevices(uint8_t*& reply, size_t& replySize, ReplyArena& arena);
    // At process exit: destroys every entry.
    void ClearNetDevices();

    size_t Count();
    // Runs `visit` on the entry under the table mutex; false when the ID is not in the table.
    bool WithNetDevice(std::u16string_view id, const std::function<void(const CDevNet&)>& visit);
    // Runs `visit` on every entry, in map order, under the table mutex.
    void ForEachNetDevice(const std::function<void(const CDevNet&)>& visit);

private:
    int64_t NowSeconds();

    // Lets the map be searched with a string view, without building a key string per datagram.
    struct IdHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view id) const { return std::hash<std::u16string_view> {}(id); }
    };

    IClock& m_clock;
    const MutexHandle& m_hDevNetMutex;
    std::unordered_map<std::u16string, std::unique_ptr<CDevNet>, IdHash, std::equal_to<>> m_mapDevNet;
};

}  // namespace corvane
