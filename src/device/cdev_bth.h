// A phone seen as a device: created when a phone completes its first hello on its passive BLE
// channel, rebound to every later connection of the same phone. It carries the phone's flag
// bytes, its signal samples and statistics, and the link state that the phone list reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "config/configuration.h"
#include "crypto/cipher.h"
#include "device/ble_connection.h"
#include "device/ble_library.h"
#include "device/cdev_tovrel.h"
#include "device/device_worker.h"
#include "device/presence_tests.h"
#include "platform/platform.h"
#include "wire/msg_header.h"

namespace corvane {

class DeviceMap;

// What a phone device needs from the service: the platform, the host of device workers (the
// device map its worker leaves at its end, the worker counter of the stop sequence) and the BLE
// library.
struct BthDeviceEnv {
    Platform& platform;
    Configuration& config;
    DeviceWorkerHost& workers;
    IBleLibrary* ble = nullptr;
    // The session side of the presence tests; without it the options are kept but never acted on.
    IDeviceSessions* sessions = nullptr;
};

// The RSSI statistics a phone asks for with its signal statistics request.
struct RssiStatistics {
    uint16_t count = 0;
    int16_t average = 0;
    int16_t maximum = 0;
    int16_t minimum = 0;
};

// The fields of one record of the phone list.
struct PhoneListFields {
    uint32_t cacheGeneration = 0;
    uint8_t firstFlag = 0;
    uint8_t secondFlag = 0;
    uint32_t containerListMode = 0;
    uint32_t linkKind = 0;
    bool haveRssi = false;
    int16_t lastRssi = 0;
};

// How long a closed phone with no logon options stays in the device map.
inline constexpr uint32_t kBthLingerMilliseconds = 30000;
inline constexpr uint32_t kNteInvalidHandle = 0x80090026;
// ERROR_DEVICE_NOT_CONNECTED: the phone cannot be reached.
inline constexpr uint32_t kBthNotConnected = 1167;
// A session key unused for longer than this is dropped when the link falters.
inline constexpr uint32_t kBthSessionIdleMilliseconds = 300000;
// The session key is dropped when the active channel has been quiet this long.
inline constexpr uint32_t kBthQuietMilliseconds = 30000;
// How often the link is checked: while the phone is closed, or lost with options to act on, and
// otherwise.
inline constexpr uint32_t kBthLostCheckMilliseconds = 1000;
inline constexpr uint32_t kBthPresentCheckMilliseconds = 3000;
// The most bytes a link probe swallows before it gives up on the channel (about one whole
// message): the active channel is quiet between exchanges, and a phone that keeps talking must
// not hold the worker forever.
inline constexpr uint64_t kBthProbeByteLimit = MsgHeader::kSize + MsgHeader::kMaxPayload + 1;

class CDevBth final : public CDevTovrel {
public:
    // A new device for the phone served by `connection`, whose hello has just succeeded. The
    // creator adds it to the device map and then calls StartWorker.
    CDevBth(BthDeviceEnv env, BleConnection& connection);
    ~CDevBth() override;

    // Attaches the device to a new connection after a fresh hello: the old connection loses its
    // device pointer, the link state, flag bytes, session and statistics start afresh. The name
    // changes under the device map mutex, under which the phone list reads it.
    void Rebind(BleConnection& connection, std::u16string_view name);
    // Close when `handle` is this device's BLE handle (non-zero); else 0x80090026.
    uint32_t CloseIfDevice(uint64_t handle);

    bool IsConnected() override;
    uint32_t Close() override;
    // Token commands and session reports travel on the active channel to the phone, which is not
    // opened yet: the phone cannot be reached that way and both answer kBthNotConnected.
    uint32_t Transmit(const uint8_t* request, size_t requestSize, uint8_t** reply, size_t* replySize,
                      ReplyArena& arena) override;
    uint32_t ReportSessions() override;
    void StartWorker() override;
    uint32_t Run() override;

    // The worker's presence checks, one cycle's worth each (exposed for the tests). AwayChecks runs
    // the away test of every option; OfflineCheck checks the link when its period has passed and,
    // when the phone is lost, runs the offline tests: 1 when the device's life is over.
    void AwayChecks();
    uint32_t OfflineCheck();
    // Under the link mutex: 0 when the active channel is usable (reopened if need be), else
    // kBthNotConnected with the presence flag cleared and the loss marked.
    uint32_t LinkCheck();
    bool IsPresent() const { return m_bPresent.load() == 1; }
    uint32_t GetLossTick() const { return m_dwLossTick.load(); }

    // One signal-strength sample (called under the device map mutex; takes no device lock).
    void OnSignalSample(int16_t rssi);
    // The statistics operations of the phone's signal statistics request.
    void StartRssiStatistics();
    void StopRssiStatistics();
    RssiStatistics ReadRssiStatistics();

    // The phone's flag bytes (set through its status request).
    uint8_t GetFirstFlag() const { return m_bFlag1.load(); }
    uint8_t GetSecondFlag() const { return m_bFlag2.load(); }
    void SetFirstFlag(uint8_t value) { m_bFlag1 = value; }
    void SetSecondFlag(uint8_t value) { m_bFlag2 = value; }
    void SetContainerListMode() { m_bContainerListMode = 1; }
    uint32_t GetContainerListMode() const { return m_bContainerListMode.load(); }

    uint64_t GetBleDevice() const { return m_hBleDevice.load(); }
    void SetSignalCookie(uint64_t cookie) { m_hSignalCookie = cookie; }
    uint32_t GetLinkKind() const { return m_nLinkKind.load(); }
    // Under the connection lock: the connection serving the phone, and its detachment when that
    // connection ends.
    BleConnection* GetConnection() const { return m_pConnection; }
    void DetachConnection(const BleConnection& connection) {
        if (m_pConnection == &connection) m_pConnection = nullptr;
    }
    PhoneListFields GetPhoneListFields();

private:
    // Gives the phone's BLE handle back to the library on a closing thread, once transmissions in
    // progress have finished.
    void ReleaseBleDevice();
    void DiscardSession();
    // Discards the session key only once it has been unused for kBthSessionIdleMilliseconds.
    void DropSession();
    // Clears the presence flag and marks the loss's tick unless one is marked already.
    void MarkLost();
    void ClearAwayMarks();
    // Reads and discards what is pending on `channel`: 0 when it is quiet, else the library's
    // error (or kBleIoFailed after kBthProbeByteLimit bytes).
    uint32_t Probe(IBleLibrary& ble, uint64_t channel);

    BthDeviceEnv m_env;
    // The named mutex of the device ID: the connections' lock, which guards m_pConnection.
    MutexHandle m_hConnectionLock;
    MutexHandle m_hLinkMutex;     // "Global\\Corvane_BTH_<id>"
    MutexHandle m_hContentMutex;  // the same with "_Content"
    std::atomic<int32_t> m_nBusy {0};
    std::atomic<uint32_t> m_dwLossTick {0};
    std::atomic<uint8_t> m_bFlag1 {0};
    std::atomic<uint8_t> m_bFlag2 {0};
    std::atomic<uint32_t> m_nCacheGeneration {0};
    std::atomic<uint32_t> m_bContainerListMode {0};
    std::atomic<uint32_t> m_nLinkKind {0};
    BleConnection* m_pConnection = nullptr;  // guarded by m_hConnectionLock
    std::atomic<uint64_t> m_hBleDevice {0};
    std::atomic<uint64_t> m_hActiveChannel {0};
    // The BLE handle the active channel was opened for: a channel left over from a handle the
    // phone no longer uses is dropped, never probed, so its end cannot close the rebound phone.
    std::atomic<uint64_t> m_hActiveChannelDevice {0};
    // Closing threads among the busy count.
    std::atomic<int> m_nClosing {0};
    std::atomic<uint64_t> m_hSignalCookie {0};
    // Signal samples and statistics: written by the library's signal thread, read by requests.
    std::mutex m_rssiMutex;
    int16_t m_nLastRssi = 0;
    uint32_t m_bHaveRssi = 0;
    uint32_t m_bStatsOn = 0;
    uint32_t m_nStatsCount = 0;
    int16_t m_nStatsMax = 0;
    int16_t m_nStatsMin = 0;
    int64_t m_nStatsSum = 0;
    // The session of the active channel.
    std::mutex m_sessionMutex;
    CipherHandle m_hSessionCipher = nullptr;
    uint32_t m_nSecureState = SecureState::Plain;
    std::atomic<uint32_t> m_dwLastTransmitTick {0};
    std::atomic<uint32_t> m_dwLastActivityTick {0};
    std::atomic<uint32_t> m_dwLastCheckTick {0};
    std::atomic<uint32_t> m_bPresent {0};
    std::atomic<uint32_t> m_bClosed {0};
};

}  // namespace corvane
