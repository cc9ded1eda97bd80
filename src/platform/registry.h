// The registry under HKEY_LOCAL_MACHINE, 64-bit view. Key paths are written as on Windows
// (u"SOFTWARE\\Tovrel\\LogonOptions\\"); key and value names compare ignoring case; a trailing
// backslash names the same key. REG_SZ data is UTF-16LE including its terminating NUL, as
// Windows stores it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace corvane {

struct RegValue {
    uint32_t type = RegType::None;
    std::vector<uint8_t> data;
};

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // RegCreateKeyExW: creates the key and any missing parents. 0 or a Windows error.
    virtual uint32_t CreateKey(std::u16string_view path) = 0;
    // RegOpenKeyExW: 0 when the key exists, 2 (ERROR_FILE_NOT_FOUND) otherwise.
    virtual uint32_t OpenKey(std::u16string_view path) = 0;
    // RegQueryValueExW with a buffer of maxBytes: 2 when the key or value is missing,
    // 234 (ERROR_MORE_DATA) when the data is larger than maxBytes.
    virtual uint32_t QueryValue(std::u16string_view path, std::u16string_view name, RegValue& out,
                                size_t maxBytes) = 0;
    // RegSetValueExW on an existing key (2 when the key is missing). The write is atomic.
    virtual uint32_t SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                              const uint8_t* data, size_t size) = 0;
    virtual uint32_t DeleteValue(std::u16string_view path, std::u16string_view name) = 0;
    // Deletes the key with everything below it.
    virtual uint32_t DeleteKey(std::u16string_view path) = 0;
    // Subkey names as stored (original case), in enumeration order.
    virtual uint32_t EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& names) = 0;
    virtual uint32_t EnumValues(std::u16string_view path, std::vector<std::u16string>& names) = 0;
};

// Typed helpers over IRegistry.
uint32_t RegQueryString(IRegistry& reg, std::u16string_view path, std::u16string_view name, std::u16string& out,
                        size_t maxBytes);
uint32_t RegSetString(IRegistry& reg, std::u16string_view path, std::u16string_view name, std::u16string_view value);
uint32_t RegQueryDword(IRegistry& reg, std::u16string_view path, std::u16string_view name, uint32_t& out);
uint32_t RegSetDword(IRegistry& reg, std::u16string_view path, std::u16string_view name, uint32_t value);
uint32_t RegSetBinary(IRegistry& reg, std::u16string_view path, std::u16string_view name,
                      const std::vector<uint8_t>& value);
// Copies a value, whatever its type, to `to` beside it (for keeping an unusable value before it is
// replaced). 0 or a Windows error.
uint32_t RegCopyValue(IRegistry& reg, std::u16string_view path, std::u16string_view from, std::u16string_view to,
                      size_t maxBytes);

// Splits a key path into its components, dropping empty ones (so a trailing backslash is ignored).
std::vector<std::u16string> SplitKeyPath(std::u16string_view path);

}  // namespace corvane
