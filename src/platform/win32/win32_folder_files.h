// Whole files in folders with the Win32 file calls.
#pragma once

#include "platform/folder_files.h"

namespace corvane::win32 {

class Win32FolderFiles final : public IFolderFiles {
public:
    uint32_t GetAttributes(std::u16string_view path, bool& directory) override;
    uint32_t CreateFolder(std::u16string_view path) override;
    uint32_t ListFolder(std::u16string_view folder, std::u16string_view suffix, std::vector<FolderEntry>& entries) override;
    uint32_t ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) override;
    uint32_t WriteWholeFile(std::u16string_view path, const uint8_t* data, size_t size) override;
};

}  // namespace corvane::win32
