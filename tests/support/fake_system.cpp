#include "support/fake_system.h"

#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::test {

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

uint32_t FakeSystem::GetProgramDataFolder(std::u16string& out) {
    out = Utf8ToUtf16(posix::StateRoot::At(root).ProgramDataDir());
    return 0;
}

uint32_t FakeSystem::GetWindowsFolder(std::u16string& out) {
    out = Utf8ToUtf16(posix::StateRoot::At(root).WindowsDir());
    return 0;
}

uint32_t FakeSystem::GetSystemDirectory(std::u16string& out) {
    out = Utf8ToUtf16(posix::StateRoot::At(root).SystemDir());
    return 0;
}

std::u16string FakeSystem::JoinPath(std::u16string_view folder, std::u16string_view name) {
    return posix::PosixSystem(posix::StateRoot::At(root)).JoinPath(folder, name);
}

uint32_t FakeSystem::CreateDirectories(std::u16string_view path) {
    return posix::ErrnoToWinError(posix::MakeDirectories(Utf16ToUtf8(path)));
}

bool FakeSystem::RunCommand(std::u16string_view commandLine) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.emplace_back(commandLine);
    return true;
}

uint32_t FakeSystem::CreateGuid(Guid& out) {
    if (guidError) return guidError;
    return posix::PosixSystem(posix::StateRoot::At(root)).CreateGuid(out);
}

uint32_t FakeSystem::GenRandom(void* buffer, size_t size) {
    return posix::PosixSystem(posix::StateRoot::At(root)).GenRandom(buffer, size);
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
