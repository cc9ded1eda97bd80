#include "platform/registry.h"

namespace corvane {

uint32_t RegQueryString(IRegistry& reg, std::u16string_view path, std::u16string_view name, std::u16string& out,
                        size_t maxBytes) {
    RegValue v;
    const uint32_t rc = reg.QueryValue(path, name, v, maxBytes);
    if (rc != 0) return rc;
    // REG_SZ as stored: UTF-16LE, usually with its NUL; read up to the first NUL.
    out.clear();
    for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
        if (c == 0) break;
        out.push_back(c);
    }
    return 0;
}

uint32_t RegSetString(IRegistry& reg, std::u16string_view path, std::u16string_view name, std::u16string_view value) {
    std::vector<uint8_t> bytes;
    bytes.reserve((value.size() + 1) * 2);
    for (char16_t c : value) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return reg.SetValue(path, name, RegType::Sz, bytes.data(), bytes.size());
}

uint32_t RegQueryDword(IRegistry& reg, std::u16string_view path, std::u16string_view name, uint32_t& out) {
    RegValue v;
    const uint32_t rc = reg.QueryValue(path, name, v, 4);
    if (rc != 0) return rc;
    if (v.data.size() != 4) return WinError::InvalidData;
    out = static_cast<uint32_t>(v.data[0]) | (static_cast<uint32_t>(v.data[1]) << 8) |
          (static_cast<uint32_t>(v.data[2]) << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    return 0;
}

uint32_t RegSetDword(IRegistry& reg, std::u16string_view path, std::u16string_view name, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return reg.SetValue(path, name, RegType::Dword, bytes, 4);
}

uint32_t RegSetBinary(IRegistry& reg, std::u16string_view path, std::u16string_view name,
                      const std::vector<uint8_t>& value) {
    return reg.SetValue(path, name, RegType::Binary, value.data(), value.size());
}

uint32_t RegCopyValue(IRegistry& reg, std::u16string_view path, std::u16string_view from, std::u16string_view to,
                      size_t maxBytes) {
    RegValue value;
    if (const uint32_t rc = reg.QueryValue(path, from, value, maxBytes)) return rc;
    return reg.SetValue(path, to, value.type, value.data.data(), value.data.size());
}

std::vector<std::u16string> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

}  // namespace corvane
