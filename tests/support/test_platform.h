// A whole platform for one test: fake clock, service host, threads and machine; the real POSIX
// registry, named mutexes and socket start-up under a fresh temporary state root; diagnostic
// lines captured. Build one per test; nothing is shared between tests.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_append_files.h"
#include "platform/posix/posix_mutexes.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system_messages.h"
#include "support/fake_clock.h"
#include "support/fake_service_host.h"
#include "support/fake_system.h"
#include "support/fake_threads.h"
#include "support/temp_dir.h"

namespace corvane::test {

class TestPlatform {
public:
    TestPlatform();
    ~TestPlatform();

    Platform& Get() { return m_platform; }
    const std::string& Root() const { return m_root.Path(); }
    std::vector<std::string> DiagnosticLines() const;

    TempDir m_root;
    FakeClock clock;
    posix::PosixRegistry registry;
    posix::PosixMutexes mutexes;
    FakeThreads threads;
    FakeServiceHost serviceHost;
    FakeSystem system;
    posix::PosixSockets sockets;
    posix::PosixSystemMessages systemMessages;  // the built-in table of Windows texts
    posix::PosixAppendFiles appendFiles;        // real files under the temporary root

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_diagnosticLines;
    DiagnosticLog m_diagnostics;
    Platform m_platform;
};

}  // namespace corvane::test
