// The logon component's reports on the stream channel: the paired device list (0x4004), its own
// state with the user it names (0x4005, and 0x4101 with a non-zero status), and the phone list
// that 0x4101 answers with.
#include <cstring>
#include <string>
#include <vector>

#include "channel/stream_request_handler.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane {

namespace {
constexpr uint16_t kPhoneListCode = 0x4101;
constexpr size_t kCountSize = 4;
constexpr size_t kUnitSize = 2;
// A state of 4 (logging a user on) is taken only while the logon screen is up (2 or 3).
constexpr uint16_t kLogonScreenFirst = 2;
constexpr uint16_t kLogonScreenLast = 3;

// The UTF-16 strings of a paired list, each ending in its NUL inside the payload; nothing when
// the count asks for more strings than end there.
bool ParsePairedList(const uint8_t* payload, size_t length, std::vector<std::u16string>& out) {
    const uint32_t count = ReadU32(payload);
    size_t offset = kCountSize;
    for (uint32_t i = 0; i < count; ++i) {
        std::u16string entry;
        bool terminated = false;
        while (offset + kUnitSize <= length) {
            const char16_t unit = static_cast<char16_t>(ReadU16(payload + offset));
            offset += kUnitSize;
            if (unit == 0) {
                terminated = true;
                break;
            }
            entry.push_back(unit);
        }
        if (!terminated) return false;
        out.push_back(std::move(entry));
    }
    return true;
}
}  // namespace

// Replaces the whole list, or leaves it as it was when the request is malformed: the list is
// never filled from bytes outside the payload.
uint32_t CStreamRequestHandler::ReplacePairedDevices(const uint8_t* payload, uint16_t length) {
    if (length < kCountSize) return StreamStatus::NteFail;
    std::vector<std::u16string> entries;
    if (!ParsePairedList(payload, length, entries)) return StreamStatus::NteFail;
    MutexGuard lock(m_config.m_hPairedMutex);
    m_config.g_pairedDevices = std::move(entries);
    return 0;
}

uint32_t CStreamRequestHandler::ReportState(const uint8_t* request, bool phoneList, ReplyArena& arena,
                                            uint8_t*& reply) {
    const MsgHeader header = *MsgHeader::Decode(request, MsgHeader::kSize);
    const uint8_t* payload = request + MsgHeader::kSize;

    if (phoneList && header.status == 0) {
        if (header.length != 0) return StreamStatus::NteFail;
        return ListPhones(request, arena, reply);
    }

    // One UTF-16 name with its NUL, nothing after it: length = 2 x (characters + 1).
    size_t units = 0;
    while (units * kUnitSize + 1 < header.length && ReadU16(payload + units * kUnitSize) != 0) ++units;
    if (header.length != (units + 1) * kUnitSize || ReadU16(payload + units * kUnitSize) != 0) {
        return StreamStatus::NteFail;
    }
    std::u16string name;
    for (size_t i = 0; i < units; ++i) name.push_back(static_cast<char16_t>(ReadU16(payload + i * kUnitSize)));

    const uint16_t state = static_cast<uint16_t>(header.status & 0xFFFF);
    if (!phoneList || state != kLogonComponentLoggingOn) {
        m_logonState.SetLogonComponent(state, name);
    } else {
        const uint16_t current = m_logonState.GetLogonComponentState();
        if (current >= kLogonScreenFirst && current <= kLogonScreenLast) m_logonState.SetLogonComponent(state, name);
    }
    // Publication check: the devices hear of it only when the state to publish has changed.
    if (m_logonState.StateToPublish() != m_logonState.GetPublishedState() && m_hooks.PublishLogonState) {
        m_hooks.PublishLogonState();
    }

    if (phoneList) return ListPhones(request, arena, reply);
    // The request's header with length 2, then the name's first code unit.
    reply = arena.Allocate(MsgHeader::kSize + kUnitSize);
    if (reply == nullptr) return StreamStatus::NteNoMemory;
    MsgHeader {header.code, kUnitSize, header.status}.Encode(reply);
    std::memcpy(reply + MsgHeader::kSize, payload, kUnitSize);
    return 0;
}

uint32_t CStreamRequestHandler::ListPhones(const uint8_t*, ReplyArena& arena, uint8_t*& reply) {
    uint8_t* list = nullptr;
    size_t size = 0;
    if (uint32_t rc = m_pDevices->ListPhones(arena, list, size)) return rc;
    if (list == nullptr || size < 2 || size > MsgHeader::kMaxPayload) return StreamStatus::NteFail;
    reply = arena.Allocate(MsgHeader::kSize + size);
    if (reply == nullptr) return StreamStatus::NteNoMemory;
    MsgHeader {kPhoneListCode, static_cast<uint16_t>(size), 0}.Encode(reply);
    std::memcpy(reply + MsgHeader::kSize, list, size);
    return 0;
}

}  // namespace corvane
