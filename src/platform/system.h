// Machine identity, folders, processes, randomness and user-facing messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace corvane {

class ISystem {
public:
    virtual ~ISystem() = default;
    // GetComputerNameExW(ComputerNameNetBIOS / ComputerNameDnsDomain): 0 or a Windows error.
    virtual uint32_t GetComputerNameNetBios(std::u16string& out) = 0;
    virtual uint32_t GetComputerNameDnsDomain(std::u16string& out) = 0;
    // GetUserDefaultUILanguage.
    virtual uint16_t GetUserDefaultUILanguage() = 0;
    // setlocale(LC_ALL, "") for the runtime library.
    virtual void SetUserDefaultLocale() = 0;
    // GetCommandLineW: the whole line, program path included.
    virtual std::u16string GetCommandLine() = 0;
    // GetModuleFileNameW: 0 or a Windows error.
    virtual uint32_t GetModuleFileName(std::u16string& out) = 0;
    // SetCurrentDirectoryW: 0 or a Windows error. A backend without the call says so.
    virtual uint32_t SetCurrentDirectory(std::u16string_view path) {
        (void)path;
        return 50;  // ERROR_NOT_SUPPORTED
    }
    // Known folders: FOLDERID_ProgramData and FOLDERID_Windows; GetSystemDirectoryW.
    virtual uint32_t GetProgramDataFolder(std::u16string& out) = 0;
    virtual uint32_t GetWindowsFolder(std::u16string& out) = 0;
    virtual uint32_t GetSystemDirectory(std::u16string& out) = 0;
    // Joins a folder and a relative name with the platform's separator.
    virtual std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) = 0;
    // Creates a directory and its parents; 0 when it exists afterwards.
    virtual uint32_t CreateDirectories(std::u16string_view path) = 0;
    // Runs one command line as a hidden child process and waits for it.
    virtual bool RunCommand(std::u16string_view commandLine) = 0;
    // CoCreateGuid, from the operating system's CSPRNG.
    virtual uint32_t CreateGuid(Guid& out) = 0;
    // Fills the buffer from the operating system's CSPRNG: 0 or a Windows error.
    virtual uint32_t GenRandom(void* buffer, size_t size) = 0;
    // MessageBoxW(null, text, caption, MB_OK).
    virtual void ShowMessage(std::u16string_view text, std::u16string_view caption) = 0;
    // The line end of the platform's text files ("\r\n" on Windows, "\n" elsewhere).
    virtual const char* LineEnd() = 0;
};

}  // namespace corvane
