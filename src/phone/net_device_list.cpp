// The network device list reply (0xC001): a u16 count, one 50-byte record per entry in map
// order, then the string area with each entry's name and address (UTF-8 with NUL).
#include <cstring>
#include <string>
#include <vector>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"
#include "phone/net_device_table.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr size_t kCountSize = 2;
constexpr size_t kRecordSize = 50;
constexpr size_t kRecordIdSize = 40;
constexpr size_t kRecordNameOffset = 40;
constexpr size_t kRecordAddressOffset = 42;
constexpr size_t kRecordPortOffset = 44;
constexpr size_t kRecordValueOffset = 46;
constexpr int32_t kFinalBufferFailed = -102;
}  // namespace

int32_t CNetDeviceTable::ListNetDevices(uint8_t*& reply, size_t& replySize, ReplyArena& arena) {
    reply = nullptr;
    replySize = 0;
    MutexGuard lock(m_hDevNetMutex);

    const size_t n = m_mapDevNet.size();
    uint8_t* records = arena.Allocate(MsgHeader::kSize + kCountSize + kRecordSize * n);
    if (records == nullptr) return static_cast<int32_t>(Result::NteNoMemory);

    // The payload length is a 16-bit field: entries that would push it past 65535 bytes are left
    // out (the count says how many made it), so the reply always frames correctly.
    std::string strings;
    size_t listed = 0;
    for (const auto& [key, dev] : m_mapDevNet) {
        const std::string id = Utf16ToUtf8(dev->m_strId);
        if (id.empty() || id.size() > kRecordIdSize) return static_cast<int32_t>(Result::NteFail);
        const std::string name = Utf16ToUtf8(dev->m_strName);
        const std::string address = Utf16ToUtf8(dev->m_strAddress);
        const size_t grown = strings.size() + name.size() + 1 + address.size() + 1;
        if (kCountSize + kRecordSize * (listed + 1) + grown > MsgHeader::kMaxPayload) continue;

        uint8_t* rec = records + MsgHeader::kSize + kCountSize + kRecordSize * listed;
        std::memcpy(rec, id.data(), id.size());
        WriteU16(rec + kRecordNameOffset, static_cast<uint16_t>(strings.size()));
        strings.append(name).push_back('\0');
        WriteU16(rec + kRecordAddressOffset, static_cast<uint16_t>(strings.size()));
        strings.append(address).push_back('\0');
        WriteU16(rec + kRecordPortOffset, dev->m_wPort);
        WriteU32(rec + kRecordValueOffset, dev->m_dwValue);
        ++listed;
    }

    const size_t payload = kCountSize + kRecordSize * listed + strings.size();
    uint8_t* message = arena.Allocate(MsgHeader::kSize + payload);
    if (message == nullptr) return kFinalBufferFailed;
    std::memcpy(message, records, MsgHeader::kSize + kCountSize + kRecordSize * listed);
    std::memcpy(message + MsgHeader::kSize + kCountSize + kRecordSize * listed, strings.data(), strings.size());
    MsgHeader::Reply(Contract::kNetDeviceList, static_cast<uint16_t>(payload)).Encode(message);
    WriteU16(message + MsgHeader::kSize, static_cast<uint16_t>(listed));
    reply = message;
    replySize = MsgHeader::kSize + payload;
    return 0;
}

}  // namespace corvane
