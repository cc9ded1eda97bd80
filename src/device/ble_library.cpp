#include "device/ble_library.h"

#include <mutex>

namespace corvane {

namespace {

// The handlers of the one loaded library (see CBleLibraryBinding).
std::mutex g_handlerMutex;
BleConnectHandler g_onConnect;
BleSignalHandler g_onSignal;

uint32_t VXBLE_CALL ConnectTrampoline(void*, uint64_t device) {
    BleConnectHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_onConnect;
    }
    if (handler) handler(device);
    return 0;
}

void VXBLE_CALL SignalTrampoline(uint64_t device, uint32_t rssi) {
    BleSignalHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_onSignal;
    }
    if (handler) handler(device, static_cast<int16_t>(rssi & 0xFFFF));
}

template <typename T>
T As(void* symbol) {
    return reinterpret_cast<T>(symbol);
}

}  // namespace

std::unique_ptr<VxBleExports> ResolveVxBleExports(const ResolveExport& resolve) {
    auto exports = std::make_unique<VxBleExports>();
    exports->StartBleService = As<VxStartBleService>(resolve("StartBleService"));
    exports->StopBleService = As<VxStopBleService>(resolve("StopBleService"));
    exports->GetActiveChannel = As<VxGetActiveChannel>(resolve("GetActiveChannel"));
    exports->GetPassiveChannel = As<VxGetPassiveChannel>(resolve("GetPassiveChannel"));
    exports->CloseDevice = As<VxCloseDevice>(resolve("CloseDevice"));
    exports->ReadChannel = As<VxReadChannel>(resolve("ReadChannel"));
    exports->WriteChannel = As<VxWriteChannel>(resolve("WriteChannel"));
    exports->AddSignalStrengthEvent = As<VxAddSignalStrengthEvent>(resolve("AddSignalStrengthEvent"));
    exports->RemoveSignalStrengthEvent = As<VxRemoveSignalStrengthEvent>(resolve("RemoveSignalStrengthEvent"));
    const bool required = exports->StartBleService && exports->StopBleService && exports->GetActiveChannel &&
                          exports->GetPassiveChannel && exports->CloseDevice && exports->ReadChannel &&
                          exports->WriteChannel;
    if (!required) return nullptr;
    return exports;
}

CBleLibraryBinding::CBleLibraryBinding(const VxBleExports& exports) : m_exports(exports) {}

CBleLibraryBinding::~CBleLibraryBinding() {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_onConnect = nullptr;
    g_onSignal = nullptr;
}

uint32_t CBleLibraryBinding::StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) {
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        g_onConnect = std::move(onConnect);
    }
    return m_exports.StartBleService(service, hostGuid, &ConnectTrampoline);
}

uint32_t CBleLibraryBinding::StopBleService(uint64_t service) { return m_exports.StopBleService(service); }

uint32_t CBleLibraryBinding::GetActiveChannel(uint64_t device, uint64_t* channel) {
    return m_exports.GetActiveChannel(device, channel);
}

uint32_t CBleLibraryBinding::GetPassiveChannel(uint64_t device, uint64_t* channel) {
    return m_exports.GetPassiveChannel(device, channel);
}

uint32_t CBleLibraryBinding::CloseDevice(uint64_t device) { return m_exports.CloseDevice(device); }

uint32_t CBleLibraryBinding::ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) {
    return m_exports.ReadChannel(channel, buffer, length, timeout);
}

uint32_t CBleLibraryBinding::WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) {
    return m_exports.WriteChannel(channel, buffer, length);
}

bool CBleLibraryBinding::HasSignalStrengthEvents() {
    return m_exports.AddSignalStrengthEvent != nullptr;
}

uint32_t CBleLibraryBinding::AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) {
    if (!m_exports.AddSignalStrengthEvent) return Result::NteNotSupported;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        g_onSignal = std::move(onSignal);
    }
    return m_exports.AddSignalStrengthEvent(device, cookie, &SignalTrampoline);
}

uint32_t CBleLibraryBinding::RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) {
    if (!m_exports.RemoveSignalStrengthEvent) return Result::NteNotSupported;
    return m_exports.RemoveSignalStrengthEvent(device, cookie);
}

}  // namespace corvane
