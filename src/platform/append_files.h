// Appending to text files that are opened for one write and closed again, as the text event log
// does: while one writer has the file open, others may read it but not write it.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

class IAppendFiles {
public:
    virtual ~IAppendFiles() = default;
    // Opens `path` for appending (creating it when missing) with write sharing denied, writes
    // `header` first when the file is empty (a new file's byte-order mark), then `data`, and
    // closes it. 0, or a Windows error: the open failed (another writer holds the file, the
    // directory is missing or not writable) or the write failed (the disk is full).
    virtual uint32_t AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) = 0;
};

}  // namespace corvane
