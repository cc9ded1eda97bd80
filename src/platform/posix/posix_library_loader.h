// Shared libraries through dlopen and dlsym.
#pragma once

#include "platform/library_loader.h"

namespace corvane::posix {

class PosixLibraryLoader final : public ILibraryLoader {
public:
    std::unique_ptr<ILoadedLibrary> Load(std::u16string_view path, uint32_t& error) override;
    std::string LastLoadErrorText() override;
};

}  // namespace corvane::posix
