#include "service/ble_device_requests.h"

#include <cstring>
#include <string>
#include <vector>

#include "device/cdev_bth.h"
#include "platform/text.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

// Record layout of the phone list.
constexpr size_t kIdSlot = 40;
constexpr size_t kGenerationAt = 40;
constexpr size_t kNameAt = 44;
constexpr size_t kFirstFlagAt = 46;
constexpr size_t kSecondFlagAt = 47;
constexpr size_t kImageAt = 48;
constexpr size_t kImageSizeAt = 50;
constexpr size_t kLinkKindAt = 56;
constexpr size_t kHaveRssiAt = 57;
constexpr size_t kRssiAt = 58;
// The reply's length field is 16 bits wide.
constexpr size_t kMaxPayload = 0xFFFF;

// One found device, held for the length of a request.
class FoundDevice {
public:
    FoundDevice(DeviceMap& devices, std::u16string_view id) : m_pDevice(devices.Find(id)) {}
    ~FoundDevice() { DeviceMap::Release(m_pDevice); }
    FoundDevice(const FoundDevice&) = delete;
    FoundDevice& operator=(const FoundDevice&) = delete;
    CDevTovrel* operator->() const { return m_pDevice; }
    explicit operator bool() const { return m_pDevice != nullptr; }

private:
    CDevTovrel* m_pDevice;
};

}  // namespace

uint32_t CBleDeviceRequests::CloseDevice(std::u16string_view deviceId) {
    FoundDevice device(m_devices, deviceId);
    return device ? device->Close() : kDeviceNotFound;
}

uint32_t CBleDeviceRequests::RequestBleRestart() {
    // The radio monitor stops and starts the service at its next step.
    m_ble.App().restartRequested = 1;
    return 0;
}

uint32_t CBleDeviceRequests::StartPcManagerRelease() {
    // A release already running is not started twice; the request is answered either way.
    m_ble.StartPcManagerRelease();
    return 0;
}

uint32_t CBleDeviceRequests::ListPhones(ReplyArena& arena, uint8_t*& payload, size_t& size) {
    payload = nullptr;
    size = 0;
    std::vector<uint8_t> records;
    std::vector<uint8_t> strings;
    uint16_t count = 0;
    bool badId = false;
    m_devices.ForEachUntil([&](CDevTovrel& device) {
        // true ends the walk.
        if (device.GetKind() != DeviceKind::BluetoothPhone) return false;
        auto* phone = dynamic_cast<CDevBth*>(&device);
        if (phone == nullptr || !phone->IsConnected()) return false;
        const std::string id = Utf16ToUtf8(phone->GetId());
        if (id.empty() || id.size() > kIdSlot) {
            badId = true;
            return true;
        }
        const PhoneListFields fields = phone->GetPhoneListFields();
        const size_t at = records.size();
        records.resize(at + kPhoneRecordSize, 0);
        uint8_t* record = records.data() + at;
        std::memcpy(record, id.data(), id.size());
        WriteU32(record + kGenerationAt, fields.cacheGeneration);
        WriteU16(record + kNameAt, static_cast<uint16_t>(strings.size()));
        const std::string name = Utf16ToUtf8(phone->GetName());
        strings.insert(strings.end(), name.begin(), name.end());
        strings.push_back(0);
        record[kFirstFlagAt] = fields.firstFlag;
        record[kSecondFlagAt] = fields.secondFlag;
        // In container-list mode the phone's last container list follows in the string area (its
        // offset is the current end of the area, its size 0 when none is held).
        if (fields.containerListMode != 0) {
            const std::vector<uint8_t> image = phone->GetContainerImage();
            WriteU16(record + kImageAt, static_cast<uint16_t>(strings.size()));
            WriteU16(record + kImageSizeAt, static_cast<uint16_t>(image.size()));
            strings.insert(strings.end(), image.begin(), image.end());
        }
        record[kLinkKindAt] = static_cast<uint8_t>(fields.linkKind);
        record[kHaveRssiAt] = fields.haveRssi ? 1 : 0;
        WriteU16(record + kRssiAt, static_cast<uint16_t>(fields.lastRssi));
        ++count;
        // Offsets and sizes in the string area are 16 bits wide: a list that outgrows them cannot
        // be sent, and is refused rather than cut.
        return 2 + records.size() + strings.size() > kMaxPayload;
    });
    if (badId) return Result::NteFail;
    const size_t total = 2 + records.size() + strings.size();
    if (total > kMaxPayload) return Result::NteFail;
    payload = arena.Allocate(total);
    if (payload == nullptr) return Result::NteNoMemory;
    WriteU16(payload, count);
    if (!records.empty()) std::memcpy(payload + 2, records.data(), records.size());
    if (!strings.empty()) std::memcpy(payload + 2 + records.size(), strings.data(), strings.size());
    size = total;
    return 0;
}

uint32_t CBleDeviceRequests::TransmitToDevice(std::u16string_view deviceId, const uint8_t* inner, size_t innerSize,
                                              ReplyArena& arena, uint8_t*& reply, size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    FoundDevice device(m_devices, deviceId);
    if (!device) return kDeviceNotFound;
    return device->Transmit(inner, innerSize, &reply, &replySize, arena);
}

uint32_t CBleDeviceRequests::ReportDeviceSessions(std::u16string_view deviceId) {
    FoundDevice device(m_devices, deviceId);
    return device ? device->ReportSessions() : kDeviceNotFound;
}

}  // namespace corvane
