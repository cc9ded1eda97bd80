#pragma once

#include <string>

#include "platform/posix/state_root.h"
#include "platform/system.h"

namespace corvane::posix {

class PosixSystem final : public ISystem {
public:
    explicit PosixSystem(StateRoot root);

    uint32_t GetComputerNameNetBios(std::u16string& out) override;
    uint32_t GetComputerNameDnsDomain(std::u16string& out) override;
    uint16_t GetUserDefaultUILanguage() override;
    void SetUserDefaultLocale() override;
    std::u16string GetCommandLine() override;
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

    // The command line the process was started with (argv joined as Windows would quote it).
    void SetCommandLine(std::u16string commandLine) { m_commandLine = std::move(commandLine); }

    // Pure rules, exposed for tests: the NetBIOS name is the host name up to the first dot, upper
    // case, at most 15 characters; the DNS domain is the rest of the fully qualified name.
    static std::u16string NetBiosNameFromHost(const std::string& fqdn);
    static std::u16string DnsDomainFromHost(const std::string& fqdn);
    // zh_TW gives 0x0404, zh_CN 0x0804, anything else 0x0409.
    static uint16_t LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

private:
    StateRoot m_root;
    std::u16string m_commandLine;
};

}  // namespace corvane::posix
