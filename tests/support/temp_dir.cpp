#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include "platform/win32/win32_system.h"
#endif

namespace corvane::test {

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp on Windows: a random name in the temporary folder, with forward slashes so that
    // paths join the same way as on POSIX.
    uint8_t bytes[8] = {};
    win32::Win32System::FillRandom(bytes, sizeof bytes);
    std::string name = "corvane-test-";
    for (uint8_t b : bytes) name += "0123456789abcdef"[b >> 4], name += "0123456789abcdef"[b & 15];
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
    if (!std::filesystem::create_directories(dir)) throw std::runtime_error("temporary directory not created");
    m_path = dir.generic_string();
#else
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace corvane::test
