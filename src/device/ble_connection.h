// One phone connected over Bluetooth LE: the record the connect callback creates and the
// passive-channel server and the device session handler work on. It is owned by its server
// thread and freed by the connection teardown.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/cipher.h"
#include "device/cdev_tovrel.h"
#include "platform/named_mutex.h"

namespace corvane {

class CDevBth;

// What the passive-channel server is doing.
namespace ServerState {
constexpr uint32_t WaitingForRequest = 1;
constexpr uint32_t HandlingRequest = 2;
constexpr uint32_t SendingReply = 3;
constexpr uint32_t Ended = 4;  // the server has left its loop; no request will follow
}  // namespace ServerState

// Secure states of a keyed channel.
namespace SecureState {
constexpr uint32_t Plain = 0;
constexpr uint32_t Keyed = 2;
}  // namespace SecureState

inline constexpr size_t kDeviceIdChars = 40;     // with the NUL
inline constexpr size_t kDeviceNameChars = 260;  // with the NUL

struct BleConnection {
    uint32_t m_nKind = DeviceKind::BluetoothPhone;
    uint64_t m_hDevice = 0;          // the library's handle of the phone
    uint64_t m_hPassiveChannel = 0;  // the channel on which the phone sends its requests
    // What the passive-channel server is doing (ServerState). Shared, so that a worker started by
    // a request may still read it after the connection has been freed.
    const std::shared_ptr<std::atomic<uint32_t>> m_pServerState = std::make_shared<std::atomic<uint32_t>>(0);
    // Set by the phone's hello.
    std::u16string m_strDeviceId;    // at most 39 characters
    std::u16string m_strDeviceName;  // at most 259 characters
    // Session protection of the passive channel.
    uint32_t m_nSecureState = SecureState::Plain;
    CipherHandle m_hSessionCipher = nullptr;
    // The device bound by the hello, or null; read and written only under m_hLock.
    CDevBth* m_pDevice = nullptr;
    // The named mutex of the device ID, set by every successful hello; shared by every
    // connection of the same phone and by its device.
    MutexHandle m_hLock;
    // Set once a hello has bound a phone device, which then owns m_hDevice and closes it; the
    // teardown closes the handle itself only when no device ever took it. Used by the
    // connection's own thread only.
    bool m_bDeviceOwnsHandle = false;
};

}  // namespace corvane
