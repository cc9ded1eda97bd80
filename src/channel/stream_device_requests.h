// The stream requests that reach the devices of the device map and the Bluetooth LE service:
// close a device (0x4006), restart the BLE service (0x4007), release the PC manager (0x4008), the
// connected phones of the phone list (0x4101), a token command relayed to a device (0x5101) and
// a device's session report (0x5111). The stream channel checks the lengths and the framing and
// then makes exactly one call here; the Bluetooth LE work implements this interface and the
// composition root hands it to the channel. Until then CAbsentDeviceRequests answers as a
// service without Bluetooth devices does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire/reply_arena.h"

namespace corvane {

// ERROR_DEVICE_NOT_CONNECTED: no device with that id.
inline constexpr uint32_t kDeviceNotFound = 1167;
// One record of the phone list (0xC101).
inline constexpr size_t kPhoneRecordSize = 60;

class IStreamDeviceRequests {
public:
    virtual ~IStreamDeviceRequests() = default;

    // 0x4006: find the device, Close it. 0, 1167 when not found, or the device's error.
    virtual uint32_t CloseDevice(std::u16string_view deviceId) = 0;
    // 0x4007: ask the radio monitor to restart the BLE service. 0 or an error.
    virtual uint32_t RequestBleRestart() = 0;
    // 0x4008: start the PC-manager release unless one is running. 0 or an error.
    virtual uint32_t StartPcManagerRelease() = 0;
    // 0x4101: the whole payload of the phone list reply 0xC101 (u16 count, 60-byte records,
    // string area), allocated from `arena`. 0, 0x80090020 for a device id that does not fit its
    // slot, 0x8009000E without memory.
    virtual uint32_t ListPhones(ReplyArena& arena, uint8_t*& payload, size_t& size) = 0;
    // 0x5101: Transmit the inner message (header and payload, `innerSize` bytes) to the device and
    // hand back its reply (header and payload) allocated from `arena`. 0, 1167 when not found, or
    // the device's error. The channel sets the reply's code.
    virtual uint32_t TransmitToDevice(std::u16string_view deviceId, const uint8_t* inner, size_t innerSize,
                                      ReplyArena& arena, uint8_t*& reply, size_t& replySize) = 0;
    // 0x5111: the device's ReportSessions result, or 1167 when not found.
    virtual uint32_t ReportDeviceSessions(std::u16string_view deviceId) = 0;
};

// The answers of a service without Bluetooth devices: no device is ever found, the phone list
// is empty, and the restart and release requests are accepted with nothing to act on.
class CAbsentDeviceRequests final : public IStreamDeviceRequests {
public:
    uint32_t CloseDevice(std::u16string_view) override { return kDeviceNotFound; }
    uint32_t RequestBleRestart() override { return 0; }
    uint32_t StartPcManagerRelease() override { return 0; }
    uint32_t ListPhones(ReplyArena& arena, uint8_t*& payload, size_t& size) override;
    uint32_t TransmitToDevice(std::u16string_view, const uint8_t*, size_t, ReplyArena&, uint8_t*& reply,
                              size_t& replySize) override {
        reply = nullptr;
        replySize = 0;
        return kDeviceNotFound;
    }
    uint32_t ReportDeviceSessions(std::u16string_view) override { return kDeviceNotFound; }
};

}  // namespace corvane
