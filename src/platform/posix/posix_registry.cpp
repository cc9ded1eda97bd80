#include "platform/posix/posix_registry.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {
constexpr char kValuePrefix = '=';

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == ".." || n.rfind(".tmp-", 0) == 0) continue;
        names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool IsDir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RemoveTree(const std::string& p) {
    if (IsDir(p)) {
        for (const auto& n : ListDir(p)) RemoveTree(p + "/" + n);
        // Also remove leftover temporary files.
        DIR* d = ::opendir(p.c_str());
        if (d) {
            while (dirent* e = ::readdir(d)) {
                const std::string n = e->d_name;
                if (n.rfind(".tmp-", 0) == 0) ::unlink((p + "/" + n).c_str());
            }
            ::closedir(d);
        }
        return ::rmdir(p.c_str()) == 0 ? 0 : errno;
    }
    return ::unlink(p.c_str()) == 0 ? 0 : errno;
}
}  // namespace

PosixRegistry::PosixRegistry(std::string baseDir) : m_baseDir(std::move(baseDir)) {}

std::string PosixRegistry::EncodeName(std::u16string_view name) {
    const std::string utf8 = Utf16ToUtf8(name);
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '{' || c == '}' || c == '-' || (c == '.' && i > 0) || c == ' ';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::u16string PosixRegistry::DecodeName(const std::string& encoded) {
    std::string utf8;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            utf8.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            utf8.push_back(encoded[i]);
        }
    }
    return Utf8ToUtf16(utf8);
}

std::string PosixRegistry::FindKeyDir(std::u16string_view path) {
    std::string dir = m_baseDir;
    if (!IsDir(dir)) return "";
    for (const auto& part : SplitKeyPath(path)) {
        std::string found;
        for (const auto& entry : ListDir(dir)) {
            if (entry[0] == kValuePrefix) continue;
            if (EqualsNoCase(DecodeName(entry), part) && IsDir(dir + "/" + entry)) {
                found = entry;
                break;
            }
        }
        if (found.empty()) return "";
        dir += "/" + found;
    }
    return dir;
}

std::string PosixRegistry::FindValueFile(const std::string& keyDir, std::u16string_view name) {
    for (const auto& entry : ListDir(keyDir)) {
        if (entry[0] != kValuePrefix) continue;
        if (EqualsNoCase(DecodeName(entry.substr(1)), name)) return keyDir + "/" + entry;
    }
    return "";
}

uint32_t PosixRegistry::CreateKey(std::u16string_view path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (int err = MakeDirectories(m_baseDir, 0755)) return ErrnoToWinError(err);
    std::string dir = m_baseDir;
    for (const auto& part : SplitKeyPath(path)) {
        std::string found;
        for (const auto& entry : ListDir(dir)) {
            if (entry[0] == kValuePrefix) continue;
            if (EqualsNoCase(DecodeName(entry), part)) {
                found = entry;
                break;
            }
        }
        if (found.empty()) {
            found = EncodeName(part);
            if (::mkdir((dir + "/" + found).c_str(), 0755) != 0 && errno != EEXIST) return ErrnoToWinError(errno);
        }
        dir += "/" + found;
    }
    return 0;
}

uint32_t PosixRegistry::OpenKey(std::u16string_view path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return FindKeyDir(path).empty() ? WinError::FileNotFound : 0;
}

uint32_t PosixRegistry::QueryValue(std::u16string_view path, std::u16string_view name, RegValue& out,
                                   size_t maxBytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    const std::string file = FindValueFile(dir, name);
    if (file.empty()) return WinError::FileNotFound;
    std::ifstream in(file, std::ios::binary);
    if (!in) return WinError::FileNotFound;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4) return WinError::InvalidData;  // not a value this registry wrote
    out.type = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
               (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    if (bytes.size() - 4 > maxBytes) {
        out.data.clear();
        return WinError::MoreData;
    }
    out.data.assign(bytes.begin() + 4, bytes.end());
    return 0;
}

uint32_t PosixRegistry::SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                                 const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    std::string file = FindValueFile(dir, name);
    if (file.empty()) file = dir + "/" + kValuePrefix + EncodeName(name);
    std::vector<uint8_t> bytes(4 + size);
    bytes[0] = static_cast<uint8_t>(type);
    bytes[1] = static_cast<uint8_t>(type >> 8);
    bytes[2] = static_cast<uint8_t>(type >> 16);
    bytes[3] = static_cast<uint8_t>(type >> 24);
    std::copy(data, data + size, bytes.begin() + 4);
    return ErrnoToWinError(WriteFileAtomic(file, bytes.data(), bytes.size(), 0600));
}

uint32_t PosixRegistry::DeleteValue(std::u16string_view path, std::u16string_view name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    const std::string file = FindValueFile(dir, name);
    if (file.empty()) return WinError::FileNotFound;
    return ::unlink(file.c_str()) == 0 ? 0 : ErrnoToWinError(errno);
}

uint32_t PosixRegistry::DeleteKey(std::u16string_view path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (SplitKeyPath(path).empty()) return WinError::AccessDenied;
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    return ErrnoToWinError(RemoveTree(dir));
}

uint32_t PosixRegistry::EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& names) {
    std::lock_guard<std::mutex> lock(m_mutex);
    names.clear();
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    for (const auto& entry : ListDir(dir)) {
        if (entry[0] != kValuePrefix && IsDir(dir + "/" + entry)) names.push_back(DecodeName(entry));
    }
    return 0;
}

uint32_t PosixRegistry::EnumValues(std::u16string_view path, std::vector<std::u16string>& names) {
    std::lock_guard<std::mutex> lock(m_mutex);
    names.clear();
    const std::string dir = FindKeyDir(path);
    if (dir.empty()) return WinError::FileNotFound;
    for (const auto& entry : ListDir(dir)) {
        if (entry[0] == kValuePrefix) names.push_back(DecodeName(entry.substr(1)));
    }
    return 0;
}

}  // namespace corvane::posix
