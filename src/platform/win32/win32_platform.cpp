// The Win32 backend: the service control manager, the registry in the 64-bit view, kernel named
// mutexes, Windows Sockets and the rest of the system, each behind its seam. A new seam is
// wired by adding its object as a member and pointing the Platform field at it.
#include <memory>

#include "platform/platform.h"
#include "platform/win32/win32_append_files.h"
#include "platform/win32/win32_certificates.h"
#include "platform/win32/win32_bluetooth_radios.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_csp_containers.h"
#include "platform/win32/win32_folder_files.h"
#include "platform/win32/win32_key_containers.h"
#include "platform/win32/win32_library_loader.h"
#include "platform/win32/win32_pc_software.h"
#include "platform/win32/win32_mutexes.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_service_host.h"
#include "platform/win32/win32_service_manager.h"
#include "platform/win32/win32_sessions.h"
#include "platform/win32/win32_smart_cards.h"
#include "platform/win32/win32_sockets.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_system_messages.h"
#include "platform/win32/win32_threads.h"
#include "platform/win32/win32_tls_streams.h"

namespace corvane {

namespace {
class Win32Platform final : public NativePlatform {
public:
    Win32Platform() {
        m_platform.clock = &m_clock;
        m_platform.registry = &m_registry;
        m_platform.mutexes = &m_mutexes;
        m_platform.threads = &m_threads;
        m_platform.serviceHost = &m_serviceHost;
        m_platform.system = &m_system;
        m_platform.sockets = &m_sockets;
        m_platform.diagnostics = &m_diagnostics;
        m_platform.serviceManager = &m_serviceManager;
        m_platform.systemMessages = &m_systemMessages;
        m_platform.appendFiles = &m_appendFiles;
        m_platform.sessions = &m_sessions;
        m_platform.keyContainers = &m_keyContainers;
        m_platform.smartCards = &m_smartCards;
        m_platform.libraries = &m_libraries;
        m_platform.certificates = &m_certificates;
        m_platform.crlRetriever = &m_crlRetriever;
        m_platform.cspContainers = &m_cspContainers;
        m_platform.folderFiles = &m_folderFiles;
        m_platform.bluetoothRadios = &m_bluetoothRadios;
        m_platform.pcSoftware = &m_pcSoftware;
        m_platform.tlsStreams = &m_tlsStreams;
    }
    Platform& Get() override { return m_platform; }
    // Windows reads the command line itself (GetCommandLineW).
    void SetArguments(int, char**) override {}

private:
    win32::Win32Clock m_clock;
    win32::Win32Registry m_registry;
    win32::Win32Mutexes m_mutexes;
    win32::Win32Threads m_threads;
    win32::Win32ServiceHost m_serviceHost;
    win32::Win32System m_system;
    win32::Win32Sockets m_sockets;
    win32::Win32ServiceManager m_serviceManager;
    win32::Win32SystemMessages m_systemMessages;
    win32::Win32AppendFiles m_appendFiles;
    win32::Win32Sessions m_sessions;
    win32::Win32KeyContainers m_keyContainers;
    win32::Win32SmartCards m_smartCards;
    win32::Win32LibraryLoader m_libraries;
    win32::Win32Certificates m_certificates;
    win32::Win32CrlRetriever m_crlRetriever;
    win32::Win32CspContainers m_cspContainers;
    win32::Win32FolderFiles m_folderFiles;
    win32::Win32BluetoothRadios m_bluetoothRadios;
    win32::Win32PcSoftware m_pcSoftware;
    win32::Win32TlsStreams m_tlsStreams;
    DiagnosticLog m_diagnostics;
    Platform m_platform;
};
}  // namespace

std::unique_ptr<NativePlatform> CreateNativePlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace corvane
