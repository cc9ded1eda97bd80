// The stream requests that reach the phones and the BLE service: close a device (0x4006),
// restart the BLE service (0x4007), release the PC manager (0x4008), the phone list (0x4101), a
// token command for a device (0x5101) and a device's session report (0x5111).
#pragma once

#include "channel/stream_device_requests.h"
#include "device/ble_service.h"
#include "device/device_map.h"

namespace corvane {

class CBleDeviceRequests final : public IStreamDeviceRequests {
public:
    CBleDeviceRequests(DeviceMap& devices, CBleService& ble) : m_devices(devices), m_ble(ble) {}

    uint32_t CloseDevice(std::u16string_view deviceId) override;
    uint32_t RequestBleRestart() override;
    uint32_t StartPcManagerRelease() override;
    uint32_t ListPhones(ReplyArena& arena, uint8_t*& payload, size_t& size) override;
    uint32_t TransmitToDevice(std::u16string_view deviceId, const uint8_t* inner, size_t innerSize, ReplyArena& arena,
                              uint8_t*& reply, size_t& replySize) override;
    uint32_t ReportDeviceSessions(std::u16string_view deviceId) override;

private:
    DeviceMap& m_devices;
    CBleService& m_ble;
};

}  // namespace corvane
