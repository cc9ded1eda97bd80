#include "platform/win32/win32_system.h"

#include "platform/win32/win32_api.h"
#include <bcrypt.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <clocale>
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {

uint32_t ComputerName(COMPUTER_NAME_FORMAT format, DWORD room, std::u16string& out) {
    std::vector<wchar_t> buffer(room);
    DWORD size = room;
    if (!::GetComputerNameExW(format, buffer.data(), &size)) return ::GetLastError();
    out = FromWide(buffer.data(), size);
    return 0;
}

uint32_t KnownFolder(REFKNOWNFOLDERID id, std::u16string& out) {
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &path);
    if (SUCCEEDED(hr)) out = FromWide(path);
    ::CoTaskMemFree(path);
    return SUCCEEDED(hr) ? 0 : static_cast<uint32_t>(hr);
}

// A message box needs a window station that a user can see; in a non-interactive one (a
// remote shell, a service) it would wait for a click that never comes.
bool InteractiveDesktop() {
    USEROBJECTFLAGS flags {};
    DWORD needed = 0;
    HWINSTA station = ::GetProcessWindowStation();
    if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void WriteToStandardError(const std::u16string& line) {
    HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Wide(line);
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        const std::string utf8 = Utf16ToUtf8(line);
        ::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
}

}  // namespace

uint32_t Win32System::GetComputerNameNetBios(std::u16string& out) {
    return ComputerName(ComputerNameNetBIOS, MAX_COMPUTERNAME_LENGTH + 1, out);
}

uint32_t Win32System::GetComputerNameDnsDomain(std::u16string& out) {
    return ComputerName(ComputerNameDnsDomain, 256, out);
}

uint16_t Win32System::GetUserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

void Win32System::SetUserDefaultLocale() { std::setlocale(LC_ALL, ""); }

std::u16string Win32System::GetCommandLine() { return FromWide(::GetCommandLineW()); }

uint32_t Win32System::GetModuleFileName(std::u16string& out) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) return ::GetLastError();
    // A path cut at the buffer's end names some other file.
    if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    out = FromWide(path, length);
    return 0;
}

uint32_t Win32System::SetCurrentDirectory(std::u16string_view path) {
    const std::wstring wide(path.begin(), path.end());
    return ::SetCurrentDirectoryW(wide.c_str()) ? 0 : ::GetLastError();
}

uint32_t Win32System::GetProgramDataFolder(std::u16string& out) { return KnownFolder(FOLDERID_ProgramData, out); }

uint32_t Win32System::GetWindowsFolder(std::u16string& out) { return KnownFolder(FOLDERID_Windows, out); }

uint32_t Win32System::GetSystemDirectory(std::u16string& out) {
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0) return ::GetLastError();
    if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    out = FromWide(path, length);
    return 0;
}

std::u16string Win32System::JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string out(folder);
    if (!out.empty() && out.back() != u'\\' && out.back() != u'/') out.push_back(u'\\');
    for (char16_t c : name) out.push_back(c == u'/' ? u'\\' : c);
    return out;
}

uint32_t Win32System::CreateDirectories(std::u16string_view path) {
    // Creates each missing directory along the path, from the top down.
    std::u16string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        const bool end = i == path.size();
        const char16_t c = end ? u'\\' : path[i];
        if ((c == u'\\' || c == u'/') && !partial.empty() && partial.back() != u':' && partial.back() != u'\\' &&
            partial.back() != u'/') {
            const std::wstring wide = Wide(partial);
            if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
                const DWORD err = ::GetLastError();
                if (err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED) return err;
            }
        }
        if (!end) partial.push_back(c);
    }
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_DIRECTORY;
}

bool Win32System::RunCommand(std::u16string_view commandLine) {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.size() + 1, L'\0');
    std::memcpy(line.data(), commandLine.data(), commandLine.size() * sizeof(wchar_t));
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

uint32_t Win32System::CreateGuid(Guid& out) {
    GUID guid;
    const HRESULT hr = ::CoCreateGuid(&guid);
    if (FAILED(hr)) return static_cast<uint32_t>(hr);
    out.data1 = guid.Data1;
    out.data2 = guid.Data2;
    out.data3 = guid.Data3;
    std::memcpy(out.data4, guid.Data4, sizeof out.data4);
    return 0;
}

uint32_t Win32System::FillRandom(void* buffer, size_t size) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ULONG chunk = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
        const NTSTATUS status = ::BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0) return NTE_FAIL;
        p += chunk;
        size -= chunk;
    }
    return 0;
}

uint32_t Win32System::GenRandom(void* buffer, size_t size) { return FillRandom(buffer, size); }

void Win32System::ShowMessage(std::u16string_view text, std::u16string_view caption) {
    WriteToStandardError(std::u16string(caption) + u": " + std::u16string(text) + u"\r\n");
    if (!InteractiveDesktop()) return;
    // Where no display exists (Wine without one) the call fails at once.
    const std::wstring wideText = Wide(text);
    const std::wstring wideCaption = Wide(caption);
    ::MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_OK);
}

}  // namespace corvane::win32
