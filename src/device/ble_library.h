// The BLE library as the service sees it: the nine calls, with the two callbacks given as
// functions. CBleLibraryBinding is the loaded library; tests put a scripted library in its place.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/cdev_tovrel.h"
#include "device/vxble_abi.h"

namespace corvane {

using BleConnectHandler = std::function<void(uint64_t device)>;
using BleSignalHandler = std::function<void(uint64_t device, int16_t rssi)>;

class IBleLibrary {
public:
    virtual ~IBleLibrary() = default;
    virtual uint32_t StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) = 0;
    virtual uint32_t StopBleService(uint64_t service) = 0;
    virtual uint32_t GetActiveChannel(uint64_t device, uint64_t* channel) = 0;
    virtual uint32_t GetPassiveChannel(uint64_t device, uint64_t* channel) = 0;
    virtual uint32_t CloseDevice(uint64_t device) = 0;
    virtual uint32_t ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) = 0;
    virtual uint32_t WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) = 0;
    // The two optional calls; every caller asks HasSignalStrengthEvents first.
    virtual bool HasSignalStrengthEvents() = 0;
    virtual uint32_t AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) = 0;
    virtual uint32_t RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) = 0;
};

// The exports of a loaded library. The seven required ones are all non-null in a binding.
struct VxBleExports {
    VxStartBleService StartBleService = nullptr;
    VxStopBleService StopBleService = nullptr;
    VxGetActiveChannel GetActiveChannel = nullptr;
    VxGetPassiveChannel GetPassiveChannel = nullptr;
    VxCloseDevice CloseDevice = nullptr;
    VxReadChannel ReadChannel = nullptr;
    VxWriteChannel WriteChannel = nullptr;
    VxAddSignalStrengthEvent AddSignalStrengthEvent = nullptr;
    VxRemoveSignalStrengthEvent RemoveSignalStrengthEvent = nullptr;
};

// Resolves an export by name (GetProcAddress); null when the library lacks it.
using ResolveExport = std::function<void*(const char* name)>;

// The exports, resolved by their names. Nothing when one of the seven required ones is missing.
std::unique_ptr<VxBleExports> ResolveVxBleExports(const ResolveExport& resolve);

// The loaded library behind IBleLibrary. The library's callbacks carry no context of ours, so the
// binding keeps the handlers in slots of the one loaded library: the library is loaded once per
// process and never unloaded, and only one binding may exist at a time.
class CBleLibraryBinding final : public IBleLibrary {
public:
    explicit CBleLibraryBinding(const VxBleExports& exports);
    ~CBleLibraryBinding() override;

    uint32_t StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) override;
    uint32_t StopBleService(uint64_t service) override;
    uint32_t GetActiveChannel(uint64_t device, uint64_t* channel) override;
    uint32_t GetPassiveChannel(uint64_t device, uint64_t* channel) override;
    uint32_t CloseDevice(uint64_t device) override;
    uint32_t ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) override;
    uint32_t WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) override;
    bool HasSignalStrengthEvents() override;
    uint32_t AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) override;
    uint32_t RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) override;

private:
    VxBleExports m_exports;
};

}  // namespace corvane

namespace corvane {

// Stands for the library before it is loaded: the objects built at start (phone devices, the
// device session) keep this one pointer, and the calls go to the library once it is in place.
// Without a library every call fails with the library's own error, and there are no signals.
class CBleLibrarySlot final : public IBleLibrary {
public:
    void Set(IBleLibrary* library) { m_pTarget = library; }
    IBleLibrary* Get() const { return m_pTarget.load(); }

    uint32_t StartBleService(uint64_t* service, const uint8_t* hostGuid, BleConnectHandler onConnect) override {
        IBleLibrary* t = Get();
        return t ? t->StartBleService(service, hostGuid, std::move(onConnect)) : kBleErrorCode;
    }
    uint32_t StopBleService(uint64_t service) override {
        IBleLibrary* t = Get();
        return t ? t->StopBleService(service) : kBleErrorCode;
    }
    uint32_t GetActiveChannel(uint64_t device, uint64_t* channel) override {
        IBleLibrary* t = Get();
        return t ? t->GetActiveChannel(device, channel) : kBleErrorCode;
    }
    uint32_t GetPassiveChannel(uint64_t device, uint64_t* channel) override {
        IBleLibrary* t = Get();
        return t ? t->GetPassiveChannel(device, channel) : kBleErrorCode;
    }
    uint32_t CloseDevice(uint64_t device) override {
        IBleLibrary* t = Get();
        return t ? t->CloseDevice(device) : kBleErrorCode;
    }
    uint32_t ReadChannel(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout) override {
        IBleLibrary* t = Get();
        return t ? t->ReadChannel(channel, buffer, length, timeout) : kBleErrorCode;
    }
    uint32_t WriteChannel(uint64_t channel, const void* buffer, uint64_t* length) override {
        IBleLibrary* t = Get();
        return t ? t->WriteChannel(channel, buffer, length) : kBleErrorCode;
    }
    bool HasSignalStrengthEvents() override {
        IBleLibrary* t = Get();
        return t && t->HasSignalStrengthEvents();
    }
    uint32_t AddSignalStrengthEvent(uint64_t device, uint64_t* cookie, BleSignalHandler onSignal) override {
        IBleLibrary* t = Get();
        return t ? t->AddSignalStrengthEvent(device, cookie, std::move(onSignal)) : kBleErrorCode;
    }
    uint32_t RemoveSignalStrengthEvent(uint64_t device, uint64_t cookie) override {
        IBleLibrary* t = Get();
        return t ? t->RemoveSignalStrengthEvent(device, cookie) : kBleErrorCode;
    }

private:
    std::atomic<IBleLibrary*> m_pTarget {nullptr};
};

}  // namespace corvane
