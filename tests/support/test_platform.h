// A whole platform for one test: fake clock, service host, service manager, threads and machine;
// the real POSIX registry, named mutexes and socket start-up under a fresh temporary state root
// (on Windows the real ones, kept apart per test); diagnostic lines captured. Build one per test;
// nothing is shared between tests.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#ifdef _WIN32
#include "platform/win32/win32_append_files.h"
#include "platform/win32/win32_library_loader.h"
#include "platform/win32/win32_mutexes.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_sockets.h"
#else
#include "platform/posix/posix_append_files.h"
#include "platform/posix/posix_library_loader.h"
#include "platform/posix/posix_mutexes.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_sockets.h"
#endif
#include "platform/posix/posix_system_messages.h"
#include "support/fake_bluetooth_radios.h"
#include "support/fake_clock.h"
#include "support/fake_service_host.h"
#include "support/fake_service_manager.h"
#include "support/fake_key_containers.h"
#include "support/fake_sessions.h"
#include "support/fake_smart_cards.h"
#include "support/fake_system.h"
#include "support/fake_threads.h"
#include "support/temp_dir.h"

namespace corvane::test {

#ifdef _WIN32
// On Windows the registry is the real one, below a key of the test's own that is deleted
// afterwards; mutex names carry a prefix of the test's own.
using TestRegistry = win32::Win32Registry;
using TestMutexes = win32::Win32Mutexes;
using TestSockets = win32::Win32Sockets;
using TestAppendFiles = win32::Win32AppendFiles;
using TestLibraryLoader = win32::Win32LibraryLoader;
#else
using TestRegistry = posix::PosixRegistry;
using TestMutexes = posix::PosixMutexes;
using TestSockets = posix::PosixSockets;
using TestAppendFiles = posix::PosixAppendFiles;
using TestLibraryLoader = posix::PosixLibraryLoader;
#endif

class TestPlatform {
public:
    TestPlatform();
    ~TestPlatform();

    Platform& Get() { return m_platform; }
    const std::string& Root() const { return m_root.Path(); }
    std::vector<std::string> DiagnosticLines() const;

    TempDir m_root;
    FakeClock clock;
    TestRegistry registry;
    TestMutexes mutexes;
    FakeThreads threads;
    FakeServiceHost serviceHost;
    FakeSystem system;
    TestSockets sockets;
    posix::PosixSystemMessages systemMessages;  // the built-in table of Windows texts
    TestAppendFiles appendFiles;                // real files under the temporary root
    FakeServiceManager serviceManager;
    FakeSessions sessions;
    FakeKeyContainers keyContainers;
    FakeSmartCards smartCards {clock};
    TestLibraryLoader libraries;  // the real loader: tests load their own test libraries
    FakeBluetoothRadios bluetoothRadios;
    FakePcSoftware pcSoftware;
    // A scripted loader a test may put in place of the real one.
    FakeLibraryLoader fakeLibraries;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_diagnosticLines;
    DiagnosticLog m_diagnostics;
    Platform m_platform;
};

}  // namespace corvane::test
