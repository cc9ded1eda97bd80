// The requests a phone sends on its passive BLE channel: the hello, which establishes a session
// key and binds the phone's device to the connection, and, once keyed, the logon relay, session
// list, signal statistics, container list and phone status requests, each protected with the
// session key. Also the teardown of a connection whose channel has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "device/ble_connection.h"
#include "device/cdev_bth.h"
#include "wire/reply_arena.h"

namespace corvane {

// Request codes of the passive channel.
namespace DeviceRequest {
constexpr uint16_t Hello = 0x0101;
constexpr uint16_t HelloContainerList = 0x0102;
constexpr uint16_t Logon = 0x3021;
constexpr uint16_t Unlock = 0x3022;
constexpr uint16_t Relogon = 0x3023;
constexpr uint16_t SessionTime = 0x3024;
constexpr uint16_t SessionControl = 0x3025;
constexpr uint16_t SignalStatistics = 0x3026;
constexpr uint16_t SessionList = 0x3027;
constexpr uint16_t ContainerList = 0x3028;
constexpr uint16_t DelayedShutdown = 0x3029;
constexpr uint16_t PhoneStatus = 0x3101;
}  // namespace DeviceRequest

inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kNtePerm = 0x80090010;

// What the handler reaches in the layers above it; the composition root fills these. A hook that
// is empty answers NTE_NOT_SUPPORTED (or, for the published state, an empty name and state 0).
struct DeviceSessionHooks {
    // The relay of a logon, unlock or re-logon request (header and plain payload) to the logon
    // component, with the phone's device ID (a re-logon repeated while the console is locked by
    // another user); the reply message comes from `arena`.
    std::function<uint32_t(std::u16string_view deviceId, const uint8_t* request, size_t size, ReplyArena& arena,
                           uint8_t** reply, size_t* replySize)>
        RelayLogonRequest;
    // The session time query, session control and delayed shutdown requests (codes 0x3024, 0x3025,
    // 0x3029), on the plain request.
    std::function<uint32_t(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                           uint8_t** reply, size_t* replySize)>
        RemoteSessionOperation;
    // The session list message, from `arena`: 0 or 0x8009000E.
    std::function<uint32_t(uint8_t*& message, size_t& size, ReplyArena& arena)> BuildSessionList;
    // PublishedState and PublishedUser, read together.
    std::function<void(std::u16string& user, uint16_t& state)> GetPublished;
    // The phone's container list message (header and payload) for its device; 0 or an error.
    std::function<uint32_t(CDevBth& device, const uint8_t* message, size_t size)> UpdateContainerList;
    // Empties the device's variant-1 token cache.
    std::function<void(CDevBth& device)> ResetCacheV1;
    // The signal-strength dispatch, registered with the library for every bound phone.
    std::function<void(uint64_t device, int16_t rssi)> OnBleSignal;
};

class CDeviceSession {
public:
    explicit CDeviceSession(BthDeviceEnv env);

    DeviceSessionHooks& Hooks() { return m_hooks; }

    // Handles one request read from the connection's passive channel. 0 with the reply message
    // (from `arena`, its code still the request's), or an error for the error reply.
    uint32_t HandleDeviceRequest(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                                 uint8_t** reply, size_t* replySize);
    // The connection's channel has ended: its device is detached and closed (or, with no device,
    // the phone's handle closed), and the record freed.
    void TeardownConnection(BleConnection* connection);
    // The logon domains sent to a phone: the computer name, then every trusted domain's DNS name,
    // each UTF-8 with its NUL. The byte count, or -1 when the arena refuses.
    int32_t BuildDomainList(uint8_t*& out, ReplyArena& arena);

private:
    uint32_t DeviceHello(BleConnection& connection, uint16_t code, const uint8_t* payload, size_t length,
                         ReplyArena& arena, uint8_t** reply, size_t* replySize);
    void BindDevice(BleConnection& connection, uint16_t code);
    uint32_t Dispatch(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                      uint8_t** reply, size_t* replySize);
    uint32_t RelayLogon(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                        uint8_t** reply, size_t* replySize);
    uint32_t SignalStatistics(BleConnection& connection, const uint8_t* payload, size_t length, ReplyArena& arena,
                              uint8_t** reply, size_t* replySize);
    uint32_t ContainerList(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                           uint8_t** reply, size_t* replySize);
    uint32_t PhoneStatus(BleConnection& connection, const uint8_t* payload, size_t length, ReplyArena& arena,
                         uint8_t** reply, size_t* replySize);

    BthDeviceEnv m_env;
    DeviceSessionHooks m_hooks;
};

}  // namespace corvane
