// Machine identity, folders, processes, randomness and messages on Windows.
#pragma once

#include "platform/system.h"

namespace corvane::win32 {

class Win32System final : public ISystem {
public:
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
    // The text also goes to standard error, when the process has one, so that a console user or
    // a script sees it even where no message box can be shown (no interactive desktop).
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override;
    const char* LineEnd() override { return "\r\n"; }

    // The operating system's CSPRNG, usable without a Win32System.
    static uint32_t FillRandom(void* buffer, size_t size);
};

}  // namespace corvane::win32
