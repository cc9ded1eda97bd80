#include "support/fake_system.h"

#include "platform/text.h"

#ifdef _WIN32
#include <filesystem>

#include "platform/win32/win32_system.h"
#else
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#endif

namespace corvane::test {

namespace {
#ifdef _WIN32
// The folders of the POSIX state root, under the test's temporary directory.
struct TestStateRoot {
    std::string root;
    std::string ProgramDataDir() const { return root + "/var/lib/corvane"; }
    std::string WindowsDir() const { return root + "/var/lib/corvane"; }
    std::string SystemDir() const { return root + "/var/log/corvane"; }
};
TestStateRoot RootAt(const std::string& root) { return TestStateRoot {root}; }
uint32_t MakeDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec) ? 0 : WinError::PathNotFound;
}
win32::Win32System NativeSystem(const std::string&) { return win32::Win32System(); }
// Paths join as on POSIX, so that tests expect the same text on both platforms.
std::u16string JoinTestPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string out(folder);
    if (!out.empty() && out.back() != u'/') out.push_back(u'/');
    for (char16_t c : name) out.push_back(c == u'\\' ? u'/' : c);
    return out;
}
#else
posix::StateRoot RootAt(const std::string& root) { return posix::StateRoot::At(root); }
uint32_t MakeDirectories(const std::string& path) { return posix::ErrnoToWinError(posix::MakeDirectories(path)); }
posix::PosixSystem NativeSystem(const std::string& root) { return posix::PosixSystem(posix::StateRoot::At(root)); }
std::u16string JoinTestPath(std::u16string_view folder, std::u16string_view name) {
    return posix::PosixSystem(posix::StateRoot::At("/")).JoinPath(folder, name);
}
#endif
}  // namespace

FakeSystem::FakeSystem(std::string rootDir) : root(std::move(rootDir)) {}

uint32_t FakeSystem::GetComputerNameNetBios(std::u16string& out) {
    if (computerNameError) return computerNameError;
    out = computerName;
    return 0;
}

uint32_t FakeSystem::GetComputerNameDnsDomain(std::u16string& out) {
    if (computerNameError) return computerNameError;
    out = dnsDomain;
    return 0;
}

uint32_t FakeSystem::GetModuleFileName(std::u16string& out) {
    if (moduleError) return moduleError;
    out = modulePath;
    return 0;
}

uint32_t FakeSystem::SetCurrentDirectory(std::u16string_view path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    currentDirectory = std::u16string(path);
    return 0;
}

uint32_t FakeSystem::GetProgramDataFolder(std::u16string& out) {
    out = Utf8ToUtf16(RootAt(root).ProgramDataDir());
    return 0;
}

uint32_t FakeSystem::GetWindowsFolder(std::u16string& out) {
    out = Utf8ToUtf16(RootAt(root).WindowsDir());
    return 0;
}

uint32_t FakeSystem::GetSystemDirectory(std::u16string& out) {
    out = Utf8ToUtf16(RootAt(root).SystemDir());
    return 0;
}

std::u16string FakeSystem::JoinPath(std::u16string_view folder, std::u16string_view name) {
    return JoinTestPath(folder, name);
}

uint32_t FakeSystem::CreateDirectories(std::u16string_view path) {
    return MakeDirectories(Utf16ToUtf8(path));
}

bool FakeSystem::RunCommand(std::u16string_view commandLine) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.emplace_back(commandLine);
    return true;
}

uint32_t FakeSystem::CreateGuid(Guid& out) {
    if (guidError) return guidError;
    return NativeSystem(root).CreateGuid(out);
}

uint32_t FakeSystem::GenRandom(void* buffer, size_t size) {
    ++randomCalls;
    randomBytes += size;
    if (randomGenerator) return randomGenerator(buffer, size);
    return NativeSystem(root).GenRandom(buffer, size);
}

void FakeSystem::ShowMessage(std::u16string_view text, std::u16string_view caption) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.emplace_back(text);
}

std::vector<std::u16string> FakeSystem::Commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::vector<std::u16string> FakeSystem::Messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

}  // namespace corvane::test
