#include "session/event_log.h"

#include <string>

#include "platform/text.h"
#include "wire/time_text.h"

namespace corvane {

namespace {
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorPathNotFound = 3;
}  // namespace

CEventLog::CEventLog(Platform& platform) : m_platform(platform) {}

std::u16string CEventLog::PathLocked() {
    if (m_strPath.empty()) {
        std::u16string directory;
        if (m_platform.system->GetSystemDirectory(directory) != 0) return {};
        // JoinPath adds the separator only when the directory does not already end in one.
        m_strPath = m_platform.system->JoinPath(directory, kEventLogFileName);
    }
    return m_strPath;
}

std::u16string CEventLog::GetPath() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return PathLocked();
}

void CEventLog::WriteEventLine(std::u16string_view text) {
    // One writer at a time: the file admits one writer, and a second writer of this process
    // would otherwise find it held and lose its line.
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::u16string path = PathLocked();
    if (m_platform.appendFiles == nullptr) return;
    if (path.empty()) {
        // The system directory could not be found or made.
        NoteResult(std::u16string(kEventLogFileName) + u" in the system directory", kErrorPathNotFound);
        return;
    }
    // "%s %s\n" written in text mode: every line feed, also one inside the text, becomes the
    // platform's line end.
    const std::string raw = Utf16ToUtf8(FormatLocalNow(*m_platform.clock)) + ' ' + Utf16ToUtf8(text) + '\n';
    const std::string_view lineEnd = m_platform.system->LineEnd();
    std::string line;
    line.reserve(raw.size() + 8);
    for (char c : raw) {
        if (c == '\n') {
            line.append(lineEnd);
        } else {
            line.push_back(c);
        }
    }
    NoteResult(path, m_platform.appendFiles->AppendToFile(path, kUtf8ByteOrderMark, line));
}

void CEventLog::NoteResult(const std::u16string& path, uint32_t rc) {
    if (rc == kErrorSharingViolation) return;  // another writer held the file at that moment
    if (rc == 0) {
        if (m_bFailing && m_platform.diagnostics != nullptr) {
            m_platform.diagnostics->Writef("the event log %s is written again", Utf16ToUtf8(path).c_str());
        }
        m_bFailing = false;
        return;
    }
    if (m_bFailing || m_platform.diagnostics == nullptr) return;
    m_bFailing = true;
    std::u16string text;
    if (m_platform.systemMessages == nullptr || !m_platform.systemMessages->FormatSystemMessage(rc, text)) {
        text = u"error " + Utf8ToUtf16(std::to_string(rc));
    }
    // System texts end with a line break.
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
    m_platform.diagnostics->Writef("the event log %s cannot be written: %s (error %u); its lines are lost until it can",
                                   Utf16ToUtf8(path).c_str(), Utf16ToUtf8(text).c_str(), rc);
}

}  // namespace corvane
