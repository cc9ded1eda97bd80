// A machine for tests: fixed names and language, folders under a temporary root, recorded
// commands and message boxes, and the real CSPRNG.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system.h"

namespace corvane::test {

class FakeSystem final : public ISystem {
public:
    explicit FakeSystem(std::string root);

    uint32_t GetComputerNameNetBios(std::u16string& out) override;
    uint32_t GetComputerNameDnsDomain(std::u16string& out) override;
    uint16_t GetUserDefaultUILanguage() override { return language; }
    void SetUserDefaultLocale() override {}
    std::u16string GetCommandLine() override { return commandLine; }
    uint32_t GetModuleFileName(std::u16string& out) override;
    uint32_t SetCurrentDirectory(std::u16string_view path) override;
    uint32_t GetProgramDataFolder(std::u16string& out) override;
    uint32_t GetWindowsFolder(std::u16string& out) override;
    uint32_t GetSystemDirectory(std::u16string& out) override;
    std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) override;
    uint32_t CreateDirectories(std::u16string_view path) override;
    bool RunCommand(std::u16string_view commandLine) override;
    uint32_t CreateGuid(Guid& out) override;
    uint32_t GenRandom(void* buffer, size_t size) override;
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override;
    const char* LineEnd() override { return "\n"; }

    std::vector<std::u16string> Commands() const;
    std::vector<std::u16string> Messages() const;

    std::string root;
    std::u16string computerName = u"TESTPC";
    std::u16string dnsDomain = u"corp.example";
    uint32_t computerNameError = 0;
    uint16_t language = 0x0409;
    std::u16string commandLine = u"C:\\Program Files\\Corvane\\corvane.exe";
    std::u16string modulePath = u"C:\\Program Files\\Corvane\\corvane.exe";
    std::u16string currentDirectory;  // the last SetCurrentDirectory, empty before
    uint32_t moduleError = 0;
    uint32_t guidError = 0;
    // GenRandom's calls and bytes, and a generator that replaces the CSPRNG when set.
    std::atomic<int> randomCalls {0};
    std::atomic<size_t> randomBytes {0};
    std::function<uint32_t(void* buffer, size_t size)> randomGenerator;

private:
    mutable std::mutex m_mutex;
    std::vector<std::u16string> m_commands;
    std::vector<std::u16string> m_messages;
};

}  // namespace corvane::test
