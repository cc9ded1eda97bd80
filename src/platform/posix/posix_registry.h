// The registry as a directory tree under the state root: one directory per key, one file per
// value ("=" and the encoded value name) holding the type (4 bytes, little-endian) and the data.
// Every value write goes through a temporary file and a rename, so a crash never leaves half a
// value. Names are matched ignoring case, as Windows does.
#pragma once

#include <mutex>
#include <string>

#include "platform/registry.h"

namespace corvane::posix {

class PosixRegistry final : public IRegistry {
public:
    explicit PosixRegistry(std::string baseDir);

    uint32_t CreateKey(std::u16string_view path) override;
    uint32_t OpenKey(std::u16string_view path) override;
    uint32_t QueryValue(std::u16string_view path, std::u16string_view name, RegValue& out, size_t maxBytes) override;
    uint32_t SetValue(std::u16string_view path, std::u16string_view name, uint32_t type, const uint8_t* data,
                      size_t size) override;
    uint32_t DeleteValue(std::u16string_view path, std::u16string_view name) override;
    uint32_t DeleteKey(std::u16string_view path) override;
    uint32_t EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& names) override;
    uint32_t EnumValues(std::u16string_view path, std::vector<std::u16string>& names) override;

    static std::string EncodeName(std::u16string_view name);
    static std::u16string DecodeName(const std::string& encoded);

private:
    // Directory of an existing key (case-insensitive walk), or "" when it does not exist.
    std::string FindKeyDir(std::u16string_view path);
    // File of an existing value, or "".
    std::string FindValueFile(const std::string& keyDir, std::u16string_view name);

    std::string m_baseDir;
    std::mutex m_mutex;  // serialises structure changes within the process
};

}  // namespace corvane::posix
