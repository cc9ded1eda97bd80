// The registry under HKEY_LOCAL_MACHINE, always in the 64-bit view (KEY_WOW64_64KEY). A base
// key, empty for the service, places every path below it, so that tests can work in a subtree
// of their own.
#pragma once

#include <string>

#include "platform/registry.h"

namespace corvane::win32 {

class Win32Registry final : public IRegistry {
public:
    explicit Win32Registry(std::u16string baseKey = {});

    uint32_t CreateKey(std::u16string_view path) override;
    uint32_t OpenKey(std::u16string_view path) override;
    uint32_t QueryValue(std::u16string_view path, std::u16string_view name, RegValue& out, size_t maxBytes) override;
    uint32_t SetValue(std::u16string_view path, std::u16string_view name, uint32_t type, const uint8_t* data,
                      size_t size) override;
    uint32_t DeleteValue(std::u16string_view path, std::u16string_view name) override;
    uint32_t DeleteKey(std::u16string_view path) override;
    uint32_t EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& names) override;
    uint32_t EnumValues(std::u16string_view path, std::vector<std::u16string>& names) override;

    // The full path below HKEY_LOCAL_MACHINE, without empty components.
    std::wstring FullPath(std::u16string_view path) const;

private:
    std::u16string m_baseKey;
};

}  // namespace corvane::win32
