#include "support/test_platform.h"

#ifdef _WIN32
#include "platform/text.h"
#else
#include "platform/posix/state_root.h"
#endif

namespace corvane::test {

namespace {
#ifdef _WIN32
constexpr std::u16string_view kTestKeys = u"SOFTWARE\\CorvaneTests";
// The temporary directory's name is unique; the test's registry key and mutex names reuse it.
std::u16string UniqueName(const std::string& root) { return Utf8ToUtf16(root.substr(root.rfind('/') + 1)); }
std::u16string RegistryLocation(const std::string& root) {
    return std::u16string(kTestKeys) + u"\\" + UniqueName(root);
}
std::u16string MutexLocation(const std::string& root) { return UniqueName(root) + u"."; }
#else
std::string RegistryLocation(const std::string& root) { return posix::StateRoot::At(root).RegistryDir(); }
std::string MutexLocation(const std::string& root) { return posix::StateRoot::At(root).LockDir(); }
#endif
}  // namespace

TestPlatform::TestPlatform()
    : registry(RegistryLocation(m_root.Path())),
      mutexes(MutexLocation(m_root.Path())),
      system(m_root.Path()),
      m_diagnostics([this](std::string_view line) {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_diagnosticLines.emplace_back(line);
      }) {
    m_platform.clock = &clock;
    m_platform.registry = &registry;
    m_platform.mutexes = &mutexes;
    m_platform.threads = &threads;
    m_platform.serviceHost = &serviceHost;
    m_platform.system = &system;
    m_platform.sockets = &sockets;
    m_platform.diagnostics = &m_diagnostics;
    m_platform.systemMessages = &systemMessages;
    m_platform.appendFiles = &appendFiles;
    m_platform.serviceManager = &serviceManager;
    m_platform.sessions = &sessions;
    m_platform.keyContainers = &keyContainers;
    m_platform.smartCards = &smartCards;
    m_platform.bluetoothRadios = &bluetoothRadios;
    m_platform.libraries = &libraries;
    m_platform.pcSoftware = &pcSoftware;
}

TestPlatform::~TestPlatform() {
    threads.JoinAll();
#ifdef _WIN32
    win32::Win32Registry(std::u16string(kTestKeys)).DeleteKey(UniqueName(m_root.Path()));
#endif
}

std::vector<std::string> TestPlatform::DiagnosticLines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_diagnosticLines;
}

}  // namespace corvane::test
