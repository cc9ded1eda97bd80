// The text event log "Zentik.Log" in the system directory: one line per event, "<local time>
// <text>", UTF-8, a byte-order mark at the start of a new file, the platform's line end. The file
// is opened and closed for every line and only ever appended to. Writers in this process take
// turns, so none of their lines is lost; a line that cannot be written (another process holds
// the file, the directory is not writable, the disk is full) is dropped. The first line lost to
// a fault of the file (not to another writer holding it) is reported on the diagnostic output
// with the path and the system's text, and so is the first line written again after that.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace corvane {

inline constexpr std::u16string_view kEventLogFileName = u"Zentik.Log";

class CEventLog {
public:
    // Uses the platform's system directory, clock, line end and append files.
    explicit CEventLog(Platform& platform);

    // Appends one line with the current local time.
    void WriteEventLine(std::u16string_view text);
    // The file's path, computed on the first call from the system directory.
    std::u16string GetPath();

private:
    std::u16string PathLocked();

    void NoteResult(const std::u16string& path, uint32_t rc);

    Platform& m_platform;
    std::mutex m_mutex;  // serialises writers and guards the path
    std::u16string m_strPath;
    bool m_bFailing = false;  // the last line was lost; said once on the diagnostic output
};

}  // namespace corvane
