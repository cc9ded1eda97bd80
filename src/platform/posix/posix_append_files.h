#pragma once

#include "platform/append_files.h"

namespace corvane::posix {

// open(O_APPEND) with an exclusive, non-blocking flock standing in for the Windows sharing mode:
// a second writer that finds the file held gets ERROR_SHARING_VIOLATION; readers are not held
// up. A write that fails halfway (disk full) is cut back, so the file never ends in half a line.
class PosixAppendFiles final : public IAppendFiles {
public:
    uint32_t AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) override;
};

}  // namespace corvane::posix
