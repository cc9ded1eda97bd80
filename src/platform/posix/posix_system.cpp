#include "platform/posix/posix_system.h"

#include <fcntl.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/text.h"

extern char** environ;

namespace corvane::posix {

PosixSystem::PosixSystem(StateRoot root) : m_root(std::move(root)) {}

namespace {
std::string FullHostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return "";
    std::string name = host;
    if (name.find('.') == std::string::npos) {
        addrinfo hints {};
        hints.ai_flags = AI_CANONNAME;
        addrinfo* res = nullptr;
        if (::getaddrinfo(host, nullptr, &hints, &res) == 0 && res) {
            if (res->ai_canonname) name = res->ai_canonname;
            ::freeaddrinfo(res);
        }
    }
    return name;
}
}  // namespace

std::u16string PosixSystem::NetBiosNameFromHost(const std::string& fqdn) {
    std::string head = fqdn.substr(0, fqdn.find('.'));
    if (head.size() > 15) head.resize(15);
    for (auto& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return AsciiToUtf16(head);
}

std::u16string PosixSystem::DnsDomainFromHost(const std::string& fqdn) {
    const size_t dot = fqdn.find('.');
    return dot == std::string::npos ? std::u16string() : AsciiToUtf16(fqdn.substr(dot + 1));
}

uint16_t PosixSystem::LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    const char* chosen = nullptr;
    for (const char* v : {lcAll, lcMessages, lang}) {
        if (v && *v) {
            chosen = v;
            break;
        }
    }
    if (!chosen) return 0x0409;
    if (std::strncmp(chosen, "zh_TW", 5) == 0) return 0x0404;
    if (std::strncmp(chosen, "zh_CN", 5) == 0) return 0x0804;
    return 0x0409;
}

uint32_t PosixSystem::GetComputerNameNetBios(std::u16string& out) {
    const std::string host = FullHostName();
    if (host.empty()) return WinError::FileNotFound;
    out = NetBiosNameFromHost(host);
    return 0;
}

uint32_t PosixSystem::GetComputerNameDnsDomain(std::u16string& out) {
    const std::string host = FullHostName();
    if (host.empty()) return WinError::FileNotFound;
    out = DnsDomainFromHost(host);
    return 0;
}

uint16_t PosixSystem::GetUserDefaultUILanguage() {
    return LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

void PosixSystem::SetUserDefaultLocale() {
    // A locale named in the environment but not installed leaves the "C" locale in force.
    std::setlocale(LC_ALL, "");
}

std::u16string PosixSystem::GetCommandLine() { return m_commandLine; }

uint32_t PosixSystem::GetModuleFileName(std::u16string& out) {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return ErrnoToWinError(errno);
    out = Utf8ToUtf16(std::string(buf.data(), static_cast<size_t>(n)));
    return 0;
}

uint32_t PosixSystem::SetCurrentDirectory(std::u16string_view path) {
    return ::chdir(Utf16ToUtf8(path).c_str()) == 0 ? 0 : ErrnoToWinError(errno);
}

uint32_t PosixSystem::GetProgramDataFolder(std::u16string& out) {
    out = Utf8ToUtf16(m_root.ProgramDataDir());
    return 0;
}

uint32_t PosixSystem::GetWindowsFolder(std::u16string& out) {
    out = Utf8ToUtf16(m_root.WindowsDir());
    return 0;
}

uint32_t PosixSystem::GetSystemDirectory(std::u16string& out) {
    // The system directory always exists on Windows; on a fresh state root it is made here.
    MakeDirectories(m_root.SystemDir(), 0755);
    out = Utf8ToUtf16(m_root.SystemDir());
    return 0;
}

std::u16string PosixSystem::JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string out(folder);
    if (!out.empty() && out.back() != u'/') out.push_back(u'/');
    for (char16_t c : name) out.push_back(c == u'\\' ? u'/' : c);
    return out;
}

uint32_t PosixSystem::CreateDirectories(std::u16string_view path) {
    return ErrnoToWinError(MakeDirectories(Utf16ToUtf8(path), 0755));
}

bool PosixSystem::RunCommand(std::u16string_view commandLine) {
    const std::string line = Utf16ToUtf8(commandLine);
    // There is no Windows firewall here: the rule commands of the service are reported and skipped.
    if (line.rfind("netsh ", 0) == 0) {
        std::fprintf(stderr, "corvane: no firewall on this platform, skipped: %s\n", line.c_str());
        return true;
    }
    const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

uint32_t PosixSystem::CreateGuid(Guid& out) {
    uint8_t bytes[16];
    if (uint32_t rc = GenRandom(bytes, sizeof bytes)) return rc;
    // A version 4 GUID, as CoCreateGuid makes.
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    out.data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    out.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    out.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(out.data4, bytes + 8, 8);
    return 0;
}

uint32_t PosixSystem::GenRandom(void* buffer, size_t size) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = ::getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoToWinError(errno);
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void PosixSystem::ShowMessage(std::u16string_view text, std::u16string_view caption) {
    std::fprintf(stderr, "%s: %s\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str());
}

}  // namespace corvane::posix
