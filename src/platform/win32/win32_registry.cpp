#include "platform/win32/win32_registry.h"

#include "platform/win32/win32_api.h"

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {

// An open registry key, closed when it goes out of scope.
class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey() {
        if (m_hKey) ::RegCloseKey(m_hKey);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    HKEY* Out() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

LSTATUS Open(const std::wstring& path, REGSAM access, CRegKey& key) {
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_64KEY, key.Out());
}

}  // namespace

Win32Registry::Win32Registry(std::u16string baseKey) : m_baseKey(std::move(baseKey)) {}

std::wstring Win32Registry::FullPath(std::u16string_view path) const {
    std::u16string joined;
    for (const auto& part : SplitKeyPath(m_baseKey)) joined += part + u"\\";
    for (const auto& part : SplitKeyPath(path)) joined += part + u"\\";
    if (!joined.empty()) joined.pop_back();
    return Wide(joined);
}

uint32_t Win32Registry::CreateKey(std::u16string_view path) {
    CRegKey key;
    return static_cast<uint32_t>(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, FullPath(path).c_str(), 0, nullptr,
                                                   REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                                   nullptr, key.Out(), nullptr));
}

uint32_t Win32Registry::OpenKey(std::u16string_view path) {
    CRegKey key;
    return static_cast<uint32_t>(Open(FullPath(path), KEY_READ, key));
}

uint32_t Win32Registry::QueryValue(std::u16string_view path, std::u16string_view name, RegValue& out,
                                   size_t maxBytes) {
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(path), KEY_QUERY_VALUE, key)) return static_cast<uint32_t>(rc);
    const std::wstring valueName = Wide(name);
    std::vector<uint8_t> buffer(maxBytes);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(maxBytes);
    const LSTATUS rc = ::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type,
                                          buffer.empty() ? nullptr : buffer.data(), &size);
    out.type = type;
    if (rc == ERROR_SUCCESS && buffer.empty() && size > 0) {
        // With no buffer the call reports success and the size; the data does not fit.
        out.data.clear();
        return WinError::MoreData;
    }
    if (rc != ERROR_SUCCESS) {
        out.data.clear();
        return static_cast<uint32_t>(rc);
    }
    buffer.resize(size);
    out.data = std::move(buffer);
    return 0;
}

uint32_t Win32Registry::SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                                 const uint8_t* data, size_t size) {
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(path), KEY_SET_VALUE, key)) return static_cast<uint32_t>(rc);
    const std::wstring valueName = Wide(name);
    return static_cast<uint32_t>(
        ::RegSetValueExW(key.Get(), valueName.c_str(), 0, type, data, static_cast<DWORD>(size)));
}

uint32_t Win32Registry::DeleteValue(std::u16string_view path, std::u16string_view name) {
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(path), KEY_SET_VALUE, key)) return static_cast<uint32_t>(rc);
    const std::wstring valueName = Wide(name);
    return static_cast<uint32_t>(::RegDeleteValueW(key.Get(), valueName.c_str()));
}

uint32_t Win32Registry::DeleteKey(std::u16string_view path) {
    const auto parts = SplitKeyPath(path);
    if (parts.empty()) return WinError::AccessDenied;  // never the base itself
    // The key is deleted through its parent, opened in the 64-bit view.
    std::u16string parent;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parent += parts[i] + u"\\";
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(parent), KEY_ALL_ACCESS, key)) return static_cast<uint32_t>(rc);
    const std::wstring leaf = Wide(parts.back());
    return static_cast<uint32_t>(::RegDeleteTreeW(key.Get(), leaf.c_str()));
}

uint32_t Win32Registry::EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& names) {
    names.clear();
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(path), KEY_READ, key)) return static_cast<uint32_t>(rc);
    DWORD count = 0;
    DWORD longest = 0;
    if (LSTATUS rc = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr)) {
        return static_cast<uint32_t>(rc);
    }
    std::vector<wchar_t> name(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS rc = ::RegEnumKeyExW(key.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;  // a name that grew since the count was taken
        names.push_back(FromWide(name.data(), length));
    }
    return 0;
}

uint32_t Win32Registry::EnumValues(std::u16string_view path, std::vector<std::u16string>& names) {
    names.clear();
    CRegKey key;
    if (LSTATUS rc = Open(FullPath(path), KEY_READ, key)) return static_cast<uint32_t>(rc);
    DWORD count = 0;
    DWORD longest = 0;
    if (LSTATUS rc = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                        &longest, nullptr, nullptr, nullptr)) {
        return static_cast<uint32_t>(rc);
    }
    std::vector<wchar_t> name(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS rc =
            ::RegEnumValueW(key.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;
        names.push_back(FromWide(name.data(), length));
    }
    return 0;
}

}  // namespace corvane::win32
