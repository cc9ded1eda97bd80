#include "audit/cipher_vfs.h"

#include <string_view>

namespace corvane {

namespace {
constexpr std::string_view kCipherVfsPrefix = "multipleciphers-";
}  // namespace

std::string CipherVfsName(const std::string& vfs) {
    if (vfs.empty() || vfs.rfind(kCipherVfsPrefix, 0) == 0) return vfs;
    return std::string(kCipherVfsPrefix) + vfs;
}

}  // namespace corvane
