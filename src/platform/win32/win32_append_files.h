#pragma once

#include "platform/append_files.h"

namespace corvane::win32 {

// CreateFileW(FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS): others may read the file while a
// line is written, no one else may write it.
class Win32AppendFiles final : public IAppendFiles {
public:
    uint32_t AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) override;
};

}  // namespace corvane::win32
