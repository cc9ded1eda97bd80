#include "platform/posix/posix_service_manager.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/posix/control_protocol.h"
#include "platform/posix/service_unit.h"
#include "platform/text.h"
#include "platform/types.h"

extern char** environ;

namespace corvane::posix {

namespace {
constexpr uint32_t kErrorServiceExists = 1073;          // ERROR_SERVICE_EXISTS
constexpr uint32_t kErrorServiceMarkedForDelete = 1072;  // ERROR_SERVICE_MARKED_FOR_DELETE
constexpr uint32_t kErrorServiceNotActive = 1062;        // ERROR_SERVICE_NOT_ACTIVE
constexpr const char* kDescriptionKey = "Description=";

std::string UnitName(std::u16string_view serviceName) {
    std::string name = Utf16ToUtf8(serviceName);
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name + ".service";
}

// Free text on one unit line: line breaks would end the line, and "%" starts a specifier.
std::string UnitText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            out.push_back(' ');
        } else {
            if (c == '%') out.push_back('%');
            out.push_back(c);
        }
    }
    return out;
}
}  // namespace

PosixServiceManager::PosixServiceManager(StateRoot root) : m_root(std::move(root)) {}

std::string PosixServiceManager::UnitPath(std::u16string_view serviceName) const {
    return UnitDir() + "/" + UnitName(serviceName);
}

std::string PosixServiceManager::WantsLinkPath(std::u16string_view serviceName) const {
    return UnitDir() + "/multi-user.target.wants/" + UnitName(serviceName);
}

std::string PosixServiceManager::QuoteUnitWord(const std::string& word, bool commandLine) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '%') out.push_back('%');
        if (c == '$' && commandLine) out.push_back('$');
        out.push_back(c);
    }
    return out + "\"";
}

std::string PosixServiceManager::FormatUnit(const ServiceConfig& config, const std::string& descriptionLine) const {
    ServiceUnitSpec spec;
    spec.execStart = QuoteUnitWord(Utf16ToUtf8(config.binaryPath), true);
    spec.stateRoot = m_root.root;
    spec.environment = QuoteUnitWord("CORVANE_ROOT=" + m_root.root, false);
    spec.displayName = UnitText(Utf16ToUtf8(config.displayName));
    spec.descriptionLine = descriptionLine.empty() ? kDescriptionKey + spec.displayName : descriptionLine;
    return FormatServiceUnit(spec);
}

std::string PosixServiceManager::ReplaceDescription(const std::string& unit, const std::string& description) {
    std::istringstream in(unit);
    std::string out;
    std::string line;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (!replaced && line.rfind(kDescriptionKey, 0) == 0) {
            line = kDescriptionKey + UnitText(description);
            replaced = true;
        }
        out += line + "\n";
    }
    return out;
}

uint32_t PosixServiceManager::OpenManager(uint32_t, ScHandle& manager) {
    manager = 0;
    const std::string dir = UnitDir();
    if (int err = MakeDirectories(dir, 0755)) return ErrnoToWinError(err);
    if (::access(dir.c_str(), W_OK) != 0) return ErrnoToWinError(errno);
    std::lock_guard<std::mutex> lock(m_mutex);
    manager = m_nextHandle++;
    m_handles[manager] = Entry {true, {}};
    return 0;
}

uint32_t PosixServiceManager::OpenService(ScHandle manager, std::u16string_view name, uint32_t, ScHandle& service) {
    service = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(manager);
    if (it == m_handles.end() || !it->second.isManager) return WinError::InvalidHandle;
    struct stat st {};
    if (::stat(UnitPath(name).c_str(), &st) != 0) return WinError::ServiceDoesNotExist;
    service = m_nextHandle++;
    m_handles[service] = Entry {false, std::u16string(name)};
    return 0;
}

uint32_t PosixServiceManager::CreateService(ScHandle manager, const ServiceConfig& config, uint32_t,
                                            ScHandle& service) {
    service = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(manager);
        if (it == m_handles.end() || !it->second.isManager) return WinError::InvalidHandle;
    }
    if (config.serviceName.empty() || config.binaryPath.empty()) return WinError::InvalidParameter;
    struct stat st {};
    if (::stat(UnitPath(config.serviceName).c_str(), &st) == 0) return kErrorServiceExists;
    if (uint32_t rc = WriteUnit(config.serviceName, FormatUnit(config, ""))) return rc;
    if (uint32_t rc = ChangeStartType(config.serviceName, config.startType)) return rc;
    ReloadSystemd();
    std::lock_guard<std::mutex> lock(m_mutex);
    service = m_nextHandle++;
    m_handles[service] = Entry {false, config.serviceName};
    return 0;
}

uint32_t PosixServiceManager::ChangeServiceConfig(ScHandle service, const ServiceConfig& config) {
    std::u16string name;
    if (!ServiceOf(service, name)) return WinError::InvalidHandle;
    std::string unit;
    if (uint32_t rc = ReadUnit(name, unit)) return rc;
    std::string descriptionLine;
    std::istringstream in(unit);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(kDescriptionKey, 0) == 0) {
            descriptionLine = line;
            break;
        }
    }
    if (config.binaryPath.empty()) return WinError::InvalidParameter;
    if (uint32_t rc = WriteUnit(name, FormatUnit(config, descriptionLine))) return rc;
    if (uint32_t rc = ChangeStartType(name, config.startType)) return rc;
    ReloadSystemd();
    return 0;
}

uint32_t PosixServiceManager::ChangeServiceDescription(ScHandle service, std::u16string_view description) {
    std::u16string name;
    if (!ServiceOf(service, name)) return WinError::InvalidHandle;
    std::string unit;
    if (uint32_t rc = ReadUnit(name, unit)) return rc;
    if (uint32_t rc = WriteUnit(name, ReplaceDescription(unit, Utf16ToUtf8(description)))) return rc;
    ReloadSystemd();
    return 0;
}

uint32_t PosixServiceManager::ControlService(ScHandle service, uint32_t control) {
    std::u16string name;
    if (!ServiceOf(service, name)) return WinError::InvalidHandle;
    ControlRequest request;
    request.control = control;
    ControlReply reply;
    if (SendControl(m_root.ControlSocketPath(), request, reply, 2000) != 0) return kErrorServiceNotActive;
    return reply.result;
}

uint32_t PosixServiceManager::DeleteService(ScHandle service) {
    std::u16string name;
    if (!ServiceOf(service, name)) return WinError::InvalidHandle;
    ::unlink(WantsLinkPath(name).c_str());
    if (::unlink(UnitPath(name).c_str()) != 0) {
        return errno == ENOENT ? kErrorServiceMarkedForDelete : ErrnoToWinError(errno);
    }
    ReloadSystemd();
    return 0;
}

void PosixServiceManager::CloseServiceHandle(ScHandle handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.erase(handle);
}

bool PosixServiceManager::ServiceOf(ScHandle handle, std::u16string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second.isManager) return false;
    name = it->second.serviceName;
    return true;
}

uint32_t PosixServiceManager::ReadUnit(std::u16string_view serviceName, std::string& text) const {
    std::ifstream in(UnitPath(serviceName), std::ios::binary);
    if (!in) return kErrorServiceMarkedForDelete;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return 0;
}

uint32_t PosixServiceManager::WriteUnit(std::u16string_view serviceName, const std::string& text) {
    return ErrnoToWinError(WriteFileAtomic(UnitPath(serviceName), text.data(), text.size(), 0644));
}

uint32_t PosixServiceManager::ChangeStartType(std::u16string_view serviceName, uint32_t startType) {
    // What "systemctl enable" does: a link from the target's wants directory to the unit.
    const std::string link = WantsLinkPath(serviceName);
    ::unlink(link.c_str());
    if (startType != ScStart::AutoStart) return 0;
    if (int err = MakeDirectories(UnitDir() + "/multi-user.target.wants", 0755)) return ErrnoToWinError(err);
    const std::string target = "../" + UnitName(serviceName);
    return ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : ErrnoToWinError(errno);
}

void PosixServiceManager::ReloadSystemd() const {
    // Units under another state root are not systemd's; where systemd does not run, there is
    // nobody to tell.
    if (!m_root.root.empty() || ::access("/run/systemd/system", F_OK) != 0) return;
    const char* argv[] = {"systemctl", "daemon-reload", nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace corvane::posix
