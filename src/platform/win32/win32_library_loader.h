// Shared libraries through LoadLibraryW and GetProcAddress.
#pragma once

#include "platform/library_loader.h"

namespace corvane::win32 {

class Win32LibraryLoader final : public ILibraryLoader {
public:
    std::unique_ptr<ILoadedLibrary> Load(std::u16string_view path, uint32_t& error) override;
};

}  // namespace corvane::win32
