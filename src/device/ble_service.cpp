#include "device/ble_service.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "device/ble_framing.h"
#include "device/cdev_bth.h"
#include "device/device_map.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane {

namespace {

constexpr uint32_t kPollMilliseconds = 100;
constexpr size_t kStatusGuidOffset = 12;

void GuidBytes(const Guid& guid, uint8_t* out) {
    WriteU32(out, guid.data1);
    WriteU16(out + 4, guid.data2);
    WriteU16(out + 6, guid.data3);
    std::memcpy(out + 8, guid.data4, 8);
}

}  // namespace

CBleService::CBleService(Platform& platform, Configuration& config, DeviceMap& devices, BleAppState app)
    : m_platform(platform), m_config(config), m_devices(devices), m_app(app) {}

CBleService::~CBleService() = default;

void CBleService::LoadBleLibrary(std::u16string_view directory) {
    m_slot.Set(nullptr);
    ILibraryLoader* loader = m_platform.libraries;
    if (!loader) return;
    // The directory asked for, then the program's own folder, then the default search order.
    std::vector<std::u16string> candidates;
    if (!directory.empty()) candidates.push_back(m_platform.system->JoinPath(directory, kBleLibraryName));
    std::u16string program;
    if (m_platform.system->GetModuleFileName(program) == 0) {
        const size_t slash = program.find_last_of(u"/\\");
        if (slash != std::u16string::npos) {
            candidates.push_back(m_platform.system->JoinPath(program.substr(0, slash), kBleLibraryName));
        }
    }
    candidates.emplace_back(kBleLibraryName);
    std::unique_ptr<ILoadedLibrary> library;
    for (const std::u16string& candidate : candidates) {
        uint32_t error = 0;
        library = loader->Load(candidate, error);
        if (library) break;
    }
    if (!library) return;
    ILoadedLibrary* module = library.get();
    auto exports = ResolveVxBleExports([module](const char* name) { return module->GetExport(name); });
    if (!exports) return;
    m_pModule = std::move(library);
    m_pLoaded = std::make_unique<CBleLibraryBinding>(*exports);
    m_slot.Set(m_pLoaded.get());
}

void CBleService::UseLibrary(IBleLibrary* library) { m_slot.Set(library); }

bool CBleService::StartBle() {
    IBleLibrary* ble = Library();
    if (!ble) return false;
    uint8_t guid[16];
    GuidBytes(m_config.g_hostGuid, guid);
    MutexHandle stopMutex = OpenOrCreateMutex(m_platform, kMutexStopBle);
    MutexGuard lock(stopMutex);
    uint64_t service = 0;
    if (ble->StartBleService(&service, guid, [this](uint64_t device) { OnBleConnect(device); }) != 0) return false;
    m_hService = service;
    {
        std::lock_guard<std::mutex> status(m_statusMutex);
        WriteU32(m_status.data(), ReadU32(m_status.data()) | kBleStatusRunning);
        std::memcpy(m_status.data() + kStatusGuidOffset, guid, sizeof guid);
    }
    m_bServiceRunning = 1;
    return true;
}

void CBleService::StopBle() {
    MutexHandle stopMutex = OpenOrCreateMutex(m_platform, kMutexStopBle);
    MutexGuard lock(stopMutex);
    IBleLibrary* ble = Library();
    if (m_hService != 0 && ble) {
        ble->StopBleService(m_hService);
        m_hService = 0;
        std::lock_guard<std::mutex> status(m_statusMutex);
        WriteU32(m_status.data(), ReadU32(m_status.data()) & ~kBleStatusRunning);
        std::memset(m_status.data() + kStatusGuidOffset, 0, 16);
    }
    m_bServiceRunning = 0;
}

BleStatusRecord CBleService::GetBleStatus() {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    return m_status;
}

void CBleService::NotifyStatus() {
    if (!SendStatusNotification) return;
    BleStatusRecord status;
    uint64_t sequence = 0;
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        status = m_status;
        sequence = ++m_nNotifySequence;
    }
    // Each notification has a thread of its own, and threads started one after the other may run
    // in the other order: a stop followed at once by a start could leave the logon component
    // believing the service stopped. They are sent one at a time, and one that finds a later
    // record already sent is dropped, so the component always ends with the latest record.
    auto send = SendStatusNotification;
    auto order = m_pNotifyOrder;
    m_platform.threads->CreateThread([send, status, sequence, order] {
        std::lock_guard<std::mutex> lock(order->mutex);
        if (sequence < order->lastSent) return;
        order->lastSent = sequence;
        send(status);
    });
}

void CBleService::OnBleConnect(uint64_t device) {
    IBleLibrary* ble = Library();
    if (!ble) return;
    if (device == 0) {
        m_platform.threads->CreateThread([this] { ResetBluetoothAdapters(); });
        return;
    }
    auto* connection = new (std::nothrow) BleConnection;
    if (!connection) {
        ble->CloseDevice(device);
        return;
    }
    connection->m_nKind = DeviceKind::BluetoothPhone;
    connection->m_hDevice = device;
    if (ble->GetPassiveChannel(device, &connection->m_hPassiveChannel) == 0 &&
        m_platform.threads->CreateThread([this, connection] { PassiveChannelServer(connection); })) {
        return;
    }
    // Abandoned: nobody will serve the phone, so its record and its handle go at once.
    delete connection;
    ble->CloseDevice(device);
}

void CBleService::OnBleSignal(uint64_t device, int16_t rssi) {
    m_devices.ForEachUntil([device, rssi](CDevTovrel& candidate) {
        if (candidate.GetKind() != DeviceKind::BluetoothPhone) return false;
        auto* phone = dynamic_cast<CDevBth*>(&candidate);
        if (!phone || phone->GetBleDevice() != device) return false;
        phone->OnSignalSample(rssi);
        return true;
    });
}

void CBleService::PassiveChannelServer(BleConnection* connection) {
    m_app.activeWorkers.fetch_add(1);
    IBleLibrary& ble = *Library();
    ReplyArena arena;
    for (;;) {
        *connection->m_pServerState = ServerState::WaitingForRequest;
        uint8_t* request = nullptr;
        size_t size = 0;
        if (ReadMessage(ble, connection->m_hPassiveChannel, kBleNoTimeout, arena, &request, &size) != 0) break;
        *connection->m_pServerState = ServerState::HandlingRequest;
        uint8_t* reply = nullptr;
        size_t replySize = 0;
        uint32_t rc = HandleDeviceRequest ? HandleDeviceRequest(*connection, request, size, arena, &reply, &replySize)
                                          : Result::NteNotSupported;
        uint8_t errorReply[MsgHeader::kSize];
        if (rc != 0 || !reply || replySize < MsgHeader::kSize) {
            MsgHeader::ErrorReply(0, rc != 0 ? rc : Result::NteNotSupported).Encode(errorReply);
            reply = errorReply;
        }
        WriteU16(reply, MsgHeader::ReplyCode(ReadU16(request)));
        *connection->m_pServerState = ServerState::SendingReply;
        if (WriteMessage(ble, reply, connection->m_hPassiveChannel) != 0) break;
        arena.Release();
    }
    arena.Release();
    *connection->m_pServerState = ServerState::Ended;
    if (TeardownConnection) {
        TeardownConnection(connection);
    } else {
        ble.CloseDevice(connection->m_hDevice);
        delete connection;
    }
    m_app.activeWorkers.fetch_sub(1);
}

void CBleService::ResetBluetoothAdapters() {
    IBluetoothRadios* radios = m_platform.bluetoothRadios;
    if (!radios) return;
    radios->SetAdaptersEnabled(false);
    // The radio monitor stops the service once it finds no radio.
    while (m_bServiceRunning.load() != 0 && m_app.stop.load() == 0) m_platform.clock->Sleep(kPollMilliseconds);
    m_platform.clock->Sleep(kPollMilliseconds);
    radios->SetAdaptersEnabled(true);
}

bool CBleService::StartPcManagerRelease() {
    if (m_bPcManagerRunning.exchange(1) != 0) return false;
    if (m_platform.threads->CreateThread([this] { PcManagerRelease(); })) return true;
    m_bPcManagerRunning = 0;
    return false;
}

void CBleService::PcManagerRelease() {
    m_bPcManagerRunning = 1;
    IPcSoftware* software = m_platform.pcSoftware;
    if (software) {
        for (std::u16string_view program : {kPcManagerMessageCenter, kPcManagerDeviceCenter}) {
            software->TerminateProcessNamed(program);
        }
        uint32_t state = 0;
        bool stopSent = false;
        if (software->QueryServiceState(kPcManagerService, state) == 0 && state == ForeignServiceState::Running) {
            stopSent = software->StopService(kPcManagerService) == 0;
            // Until it has stopped, or has come back after stopping, or a minute has passed. A
            // service that still reports running right after the stop control is still stopping.
            IClock& clock = *m_platform.clock;
            const uint32_t start = clock.GetTickCount();
            bool left = false;
            while (TicksSince(clock.GetTickCount(), start) < kPcManagerStopWaitMilliseconds) {
                if (software->QueryServiceState(kPcManagerService, state) != 0) break;
                if (state == ForeignServiceState::Stopped) break;
                if (state != ForeignServiceState::Running) left = true;
                if (left && state == ForeignServiceState::Running) break;
                clock.Sleep(kPollMilliseconds);
            }
        }
        if (stopSent) {
            m_platform.clock->Sleep(kPollMilliseconds);
            m_app.restartRequested = 1;
        }
    }
    m_bPcManagerRunning = 0;
}

bool CBleService::AnyPhoneConnected() {
    return m_devices.ForEachUntil([](CDevTovrel& device) {
        auto* phone = device.GetKind() == DeviceKind::BluetoothPhone ? dynamic_cast<CDevBth*>(&device) : nullptr;
        return phone && phone->IsConnected();
    });
}

}  // namespace corvane
