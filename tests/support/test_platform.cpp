#include "support/test_platform.h"

#include "platform/posix/state_root.h"

namespace corvane::test {

TestPlatform::TestPlatform()
    : registry(posix::StateRoot::At(m_root.Path()).RegistryDir()),
      mutexes(posix::StateRoot::At(m_root.Path()).LockDir()),
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
}

TestPlatform::~TestPlatform() { threads.JoinAll(); }

std::vector<std::string> TestPlatform::DiagnosticLines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_diagnosticLines;
}

}  // namespace corvane::test
