#pragma once

#include <cstdint>
#include <functional>

#include "platform/append_files.h"

namespace corvane::win32 {

// CreateFileW(FILE_APPEND_DATA | FILE_WRITE_DATA, FILE_SHARE_READ, OPEN_ALWAYS): others may read
// the file while a line is written, no one else may write it. Write access (not append access
// alone) is what lets SetEndOfFile take back a line that was only partly written; every write
// starts at the end of the file the open found.
class Win32AppendFiles final : public IAppendFiles {
public:
    // WriteFile on the open handle: 0 or the Windows error, with the bytes written.
    using WriteChunk = std::function<uint32_t(void* file, const char* data, uint32_t size, uint32_t& written)>;

    Win32AppendFiles();
    // Tests hand in a write that fails part-way, as a full disk would.
    explicit Win32AppendFiles(WriteChunk write) : m_write(std::move(write)) {}

    uint32_t AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) override;

private:
    WriteChunk m_write;
};

}  // namespace corvane::win32
