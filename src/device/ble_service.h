// The BLE service: the binding to the BLE library, its service handle and status record, the
// callbacks the library calls (a phone connected, the adapter failed, a signal sample), the
// thread that serves each phone's passive channel, and the adapter reset.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "config/configuration.h"
#include "device/ble_connection.h"
#include "device/ble_library.h"
#include "platform/platform.h"
#include "wire/reply_arena.h"

namespace corvane {

class DeviceMap;

inline constexpr size_t kBleStatusRecordSize = 28;
using BleStatusRecord = std::array<uint8_t, kBleStatusRecordSize>;
// Bit 1 of the status flags: the BLE service runs.
inline constexpr uint32_t kBleStatusRunning = 2;

#if defined(_WIN32)
inline constexpr std::u16string_view kBleLibraryName = u"vxble.dll";
#else
inline constexpr std::u16string_view kBleLibraryName = u"libvxble.so";
#endif

// Another vendor's PC-connectivity software, which can hold the phone's Bluetooth connection.
inline constexpr std::u16string_view kPcManagerMessageCenter = u"MBAMessageCenter.exe";
inline constexpr std::u16string_view kPcManagerDeviceCenter = u"HwMdcCenter.exe";
inline constexpr std::u16string_view kPcManagerService = u"HiConnectivityService";
inline constexpr uint32_t kPcManagerStopWaitMilliseconds = 60000;

// The application's flags and counters the BLE service and its radio monitor work with.
struct BleAppState {
    std::atomic<int32_t>& stop;              // the service's stop flag
    std::atomic<int32_t>& radioStopped;      // the radio-monitor-finished flag of the stop wait
    std::atomic<int32_t>& restartRequested;  // BleRestartRequested
    std::atomic<int32_t>& activeWorkers;     // ActiveWorkerCount
};

class CBleService {
public:
    CBleService(Platform& platform, Configuration& config, DeviceMap& devices, BleAppState app);
    ~CBleService();
    CBleService(const CBleService&) = delete;
    CBleService& operator=(const CBleService&) = delete;

    // Loads the library from `directory` when one is given, else from the program's own folder,
    // else by plain name in the default search order. BleLibraryLoaded only when the seven
    // required exports are there.
    void LoadBleLibrary(std::u16string_view directory = u"");
    // Puts a library in place of the loaded one (tests); null for none.
    void UseLibrary(IBleLibrary* library);
    bool BleLibraryLoaded() const { return m_slot.Get() != nullptr; }
    // The loaded library, or null.
    IBleLibrary* Library() const { return m_slot.Get(); }
    // The library for objects built before it is loaded (see CBleLibrarySlot).
    IBleLibrary* Slot() { return &m_slot; }

    // StartBleService with the host GUID: true when it runs; the status record follows.
    bool StartBle();
    // Under the named stop mutex: stops a running service and clears the status record.
    void StopBle();
    bool BleServiceRunning() const { return m_bServiceRunning.load() != 0; }
    BleStatusRecord GetBleStatus();
    // Sends the status record on a short thread of its own.
    void NotifyStatus();

    // The library's callbacks.
    void OnBleConnect(uint64_t device);
    void OnBleSignal(uint64_t device, int16_t rssi);

    // Serves one phone's passive channel until it fails, then tears the connection down.
    void PassiveChannelServer(BleConnection* connection);
    // After an adapter failure: disables the USB adapters, waits until the radio monitor has
    // stopped the service, then enables them again.
    void ResetBluetoothAdapters();

    // The release of another vendor's PC-connectivity software (stream command 0x4008), on a
    // thread of its own unless one is running; false when none was started.
    bool StartPcManagerRelease();
    // Ends the vendor's two programs and stops its service; when the stop was sent, the radio
    // monitor is asked to restart the BLE service.
    void PcManagerRelease();

    BleAppState& App() { return m_app; }
    Platform& GetPlatform() { return m_platform; }
    bool AnyPhoneConnected();

    // Filled by the composition root.
    std::function<uint32_t(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                           uint8_t** reply, size_t* replySize)>
        HandleDeviceRequest;
    std::function<void(BleConnection* connection)> TeardownConnection;
    std::function<void(const BleStatusRecord& status)> SendStatusNotification;

private:
    Platform& m_platform;
    Configuration& m_config;
    DeviceMap& m_devices;
    BleAppState m_app;
    std::unique_ptr<ILoadedLibrary> m_pModule;  // the loaded library, kept while the service object lives
    std::unique_ptr<IBleLibrary> m_pLoaded;     // its binding
    CBleLibrarySlot m_slot;
    std::atomic<uint32_t> m_bServiceRunning {0};
    std::atomic<uint32_t> m_bPcManagerRunning {0};
    std::mutex m_statusMutex;
    uint64_t m_hService = 0;  // guarded by the stop mutex
    BleStatusRecord m_status {};
    uint64_t m_nNotifySequence = 0;  // guarded by m_statusMutex
    // The order of the status notifications, shared with their threads (which may outlive this).
    struct NotifyOrder {
        std::mutex mutex;
        uint64_t lastSent = 0;
    };
    std::shared_ptr<NotifyOrder> m_pNotifyOrder = std::make_shared<NotifyOrder>();
};

}  // namespace corvane
