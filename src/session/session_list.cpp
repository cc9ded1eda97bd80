// The session list message (0x3105) that phones receive: one entry per session record, and one
// more for a user the logon component is logging on when no record carries that mark.
#include <cstring>
#include <string>
#include <vector>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "platform/file_time.h"
#include "platform/text.h"
#include "session/session_monitor.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr uint8_t kLoggingOnMark = 0x80;
constexpr size_t kEntryFixedSize = 26;
constexpr size_t kCountSize = 2;

// FILETIME as milliseconds since 1970-01-01 UTC; 0 stays 0.
uint64_t UnixMilliseconds(FileTime ft) {
    if (ft == 0) return 0;
    return static_cast<uint64_t>((ft - kFileTimeUnixEpoch) / 10000);
}

void AppendEntry(std::vector<uint8_t>& out, uint8_t desktop, uint8_t state, FileTime logon, FileTime active,
                 FileTime locked, const std::string& upn) {
    const size_t at = out.size();
    out.resize(at + kEntryFixedSize + upn.size() + 1, 0);
    uint8_t* p = out.data() + at;
    p[0] = desktop;
    p[1] = state;
    WriteU64(p + 2, UnixMilliseconds(logon));
    WriteU64(p + 10, UnixMilliseconds(active));
    WriteU64(p + 18, UnixMilliseconds(locked));
    std::memcpy(p + kEntryFixedSize, upn.data(), upn.size());
}
}  // namespace

uint32_t CSessionMonitor::BuildSessionList(uint8_t*& message, size_t& size, ReplyArena& arena) {
    EnumerateSessions();
    std::u16string publishedUser;
    uint16_t publishedState = 0;
    m_logonState.GetPublished(publishedUser, publishedState);
    const bool loggingOn = publishedState == kLogonComponentLoggingOn;

    std::vector<uint8_t> entries;
    uint16_t count = 0;
    bool marked = false;
    {
        MutexGuard lock(m_table.Mutex());
        for (const auto& record : m_table.Records()) {
            const std::string upn = Utf16ToUtf8(record->m_strUpn);
            // One message carries at most 65535 payload bytes: a table too large for that (a
            // terminal server) is listed as far as it fits rather than sent with a wrong length.
            if (kCountSize + entries.size() + kEntryFixedSize + upn.size() + 1 > MsgHeader::kMaxPayload) break;
            uint8_t state = static_cast<uint8_t>(record->m_nState);
            if (loggingOn && EqualsNoCase(record->m_strUpn, publishedUser)) {
                state = kLoggingOnMark;
                marked = true;
            }
            AppendEntry(entries, static_cast<uint8_t>(record->m_nDesktop), state, record->m_ftLogon,
                        record->m_ftActive, record->m_ftLocked, upn);
            ++count;
        }
    }
    if (loggingOn && !marked) {
        const std::string upn = Utf16ToUtf8(publishedUser);
        if (kCountSize + entries.size() + kEntryFixedSize + upn.size() + 1 <= MsgHeader::kMaxPayload) {
            AppendEntry(entries, DesktopKind::Console, kLoggingOnMark, 0, 0, 0, upn);
            ++count;
        }
    }

    const size_t payload = kCountSize + entries.size();
    message = arena.Allocate(MsgHeader::kSize + payload);
    if (message == nullptr) return Result::NteNoMemory;
    MsgHeader {kSessionListCode, static_cast<uint16_t>(payload), 0}.Encode(message);
    WriteU16(message + MsgHeader::kSize, count);
    if (!entries.empty()) std::memcpy(message + MsgHeader::kSize + kCountSize, entries.data(), entries.size());
    size = MsgHeader::kSize + payload;
    return 0;
}

}  // namespace corvane
