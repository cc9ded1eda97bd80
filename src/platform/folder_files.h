// Whole files in folders the service keeps: whether a path exists, the entries of a folder, and
// reading or replacing a whole file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct FolderEntry {
    std::u16string name;  // the name alone, without the folder
    bool directory = false;
};

class IFolderFiles {
public:
    virtual ~IFolderFiles() = default;
    // GetFileAttributesW: 0 when the path exists (and whether it is a folder), else the error
    // (2 or 3 when it does not exist).
    virtual uint32_t GetAttributes(std::u16string_view path, bool& directory) = 0;
    // CreateDirectoryW of one folder: 0 or the error (183 when it exists).
    virtual uint32_t CreateFolder(std::u16string_view path) = 0;
    // FindFirstFileW/FindNextFileW on "folder\*suffix": 0 with the entries; 2 when nothing
    // matches, 3 when the folder does not exist, another error as reported.
    virtual uint32_t ListFolder(std::u16string_view folder, std::u16string_view suffix,
                                std::vector<FolderEntry>& entries) = 0;
    // Reads the whole file: 0 or the error.
    virtual uint32_t ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) = 0;
    // Creates or replaces the file with these bytes (never half written): 0 or the error.
    virtual uint32_t WriteWholeFile(std::u16string_view path, const uint8_t* data, size_t size) = 0;
};

}  // namespace corvane
