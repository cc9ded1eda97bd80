#include "platform/posix/posix_pc_software.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/types.h"

namespace corvane::posix {

namespace {
constexpr uint32_t kServiceDoesNotExist = 1060;

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return true;
}
}  // namespace

uint32_t PosixPcSoftware::TerminateProcessNamed(std::u16string_view exeName) {
    std::vector<std::string> lines;
    if (!ReadLines(Dir() + "/processes", lines)) return WinError::NotFound;
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (!EqualsNoCase(Utf8ToUtf16(*it), exeName)) continue;
        lines.erase(it);
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        const int err = WriteFileAtomic(Dir() + "/processes", text.data(), text.size());
        return err ? ErrnoToWinError(err) : 0;
    }
    return WinError::NotFound;
}

uint32_t PosixPcSoftware::QueryServiceState(std::u16string_view service, uint32_t& state) {
    std::vector<std::string> lines;
    if (!ReadLines(Dir() + "/services/" + Utf16ToUtf8(service), lines) || lines.empty()) return kServiceDoesNotExist;
    state = lines[0] == "running" ? ForeignServiceState::Running
            : lines[0] == "stop-pending" ? 3u
                                         : ForeignServiceState::Stopped;
    return 0;
}

uint32_t PosixPcSoftware::StopService(std::u16string_view service) {
    uint32_t state = 0;
    if (const uint32_t rc = QueryServiceState(service, state)) return rc;
    const std::string text = "stopped\n";
    const int err = WriteFileAtomic(Dir() + "/services/" + Utf16ToUtf8(service), text.data(), text.size());
    return err ? ErrnoToWinError(err) : 0;
}

}  // namespace corvane::posix
