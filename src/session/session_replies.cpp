// The two replies built from one session record: the session query reply to a network device
// and the session time reply to a phone.
#include <cstdio>
#include <cstring>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"
#include "wire/session_query_layout.h"
#include "platform/file_time.h"
#include "platform/text.h"
#include "session/cuser_log.h"

namespace corvane {

namespace {
// Session time reply layout.
constexpr size_t kTimesDesktop = 8;
constexpr size_t kTimesState = 10;
constexpr size_t kTimesLogon = 12;
constexpr size_t kTimesActive = 27;
constexpr size_t kTimesLocked = 42;
constexpr size_t kTimesText = 57;
constexpr size_t kTimeTextSize = 15;
constexpr size_t kTimesFixedLength = 50;

// Copies UTF-8 text into a fixed slot: NUL-terminated when shorter, unterminated when full.
void CopySlot(uint8_t* slot, size_t slotSize, const std::string& text, bool keepTerminator) {
    const size_t room = keepTerminator ? slotSize - 1 : slotSize;
    std::memcpy(slot, text.data(), text.size() < room ? text.size() : room);
}

// "%04d%02d%02d%02d%02d%02d" with its NUL in 15 bytes; left zero when the time cannot be shown
// in that form (a negative FILETIME, or a year past 9999).
void WriteTimeText(uint8_t* slot, FileTime ft) {
    if (ft < 0) return;
    const CalendarTime t = FileTimeToCalendar(ft);
    if (t.year > 9999) return;
    char text[64] = {};
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    std::memcpy(slot, text, kTimeTextSize - 1);  // 14 digits; the slot's last byte stays NUL
}
}  // namespace

uint8_t* CUserLog::EncodeStatus(const uint8_t* requestId, std::string_view principalName, const Configuration& config,
                                ReplyArena& arena, size_t& replySize) const {
    using namespace SessionQueryLayout;
    const size_t payload = kReplyBaseLength + principalName.size();
    if (payload > MsgHeader::kMaxPayload) return nullptr;
    const size_t size = MsgHeader::kSize + payload;
    uint8_t* reply = arena.Allocate(size);
    if (reply == nullptr) return nullptr;
    MsgHeader::Reply(Contract::kSessionQuery, static_cast<uint16_t>(payload), 0).Encode(reply);
    WriteU32(reply + kReplyState, static_cast<uint32_t>(m_nState));
    if (requestId) std::memcpy(reply + kReplyDeviceId, requestId, kDeviceIdSize);
    CopySlot(reply + kReplyHostGuid, kReplyHostGuidSize, Utf16ToUtf8(config.g_strHostGuid), true);
    CopySlot(reply + kReplyComputerName, kReplyComputerNameSize, Utf16ToUtf8(config.g_strComputerName), false);
    WriteU64(reply + kReplyLogonTime, static_cast<uint64_t>(m_ftLogon));
    WriteU64(reply + kReplyActiveTime, static_cast<uint64_t>(m_ftActive));
    WriteU64(reply + kReplyLockedTime, static_cast<uint64_t>(m_ftLocked));
    std::memcpy(reply + kReplyPrincipal, principalName.data(), principalName.size());
    replySize = size;
    return reply;
}

uint32_t CUserLog::EncodeTimes(uint16_t requestCode, std::string_view text, ReplyArena& arena, uint8_t*& reply,
                               size_t& replySize) const {
    const size_t payload = kTimesFixedLength + text.size();
    if (payload > MsgHeader::kMaxPayload) return Result::NteFail;
    const size_t size = MsgHeader::kSize + payload;
    reply = arena.Allocate(size);
    if (reply == nullptr) return Result::NteFail;
    MsgHeader::Reply(requestCode, static_cast<uint16_t>(payload), 0).Encode(reply);
    WriteU16(reply + kTimesDesktop, static_cast<uint16_t>(m_nDesktop));
    WriteU16(reply + kTimesState, static_cast<uint16_t>(m_nState));
    WriteTimeText(reply + kTimesLogon, m_ftLogon);
    if (m_ftActive != 0) WriteTimeText(reply + kTimesActive, m_ftActive);
    if (m_ftLocked != 0) WriteTimeText(reply + kTimesLocked, m_ftLocked);
    std::memcpy(reply + kTimesText, text.data(), text.size());
    replySize = size;
    return 0;
}

}  // namespace corvane
