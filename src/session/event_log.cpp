#include "session/event_log.h"

#include <string>

#include "platform/text.h"
#include "wire/time_text.h"

namespace corvane {

namespace {
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
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
    if (path.empty() || m_platform.appendFiles == nullptr) return;
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
    (void)m_platform.appendFiles->AppendToFile(path, kUtf8ByteOrderMark, line);
}

}  // namespace corvane
