// The POSIX backend: every path under the state root ($CORVANE_ROOT, default "/").
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/control_protocol.h"
#include "platform/posix/posix_append_files.h"
#include "platform/posix/posix_certificates.h"
#include "platform/posix/posix_bluetooth_radios.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_crl_retriever.h"
#include "platform/posix/posix_csp_stand_in.h"
#include "platform/posix/posix_folder_files.h"
#include "platform/posix/logind_sessions.h"
#include "platform/posix/posix_key_containers.h"
#include "platform/posix/posix_library_loader.h"
#include "platform/posix/posix_pc_software.h"
#include "platform/posix/posix_mutexes.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_service_host.h"
#include "platform/posix/posix_service_manager.h"
#include "platform/posix/posix_sessions.h"
#include "platform/posix/posix_smart_cards.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/posix_system_messages.h"
#include "platform/posix/posix_threads.h"
#include "platform/posix/posix_tls_streams.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane {

namespace {
class PosixPlatform final : public NativePlatform {
public:
    explicit PosixPlatform(posix::StateRoot root)
        : m_root(root),
          m_registry(root.RegistryDir()),
          m_mutexes(root.LockDir()),
          m_serviceHost(root.ControlSocketPath(), root.InstanceLockPath()),
          m_system(root),
          m_serviceManager(root),
          m_certificates(root.TrustDir(), root.NtAuthDir()),
          m_cspStandIn(root.CspStoreDir()),
          m_bluetoothRadios(root),
          m_pcSoftware(root),
          m_sessions(posix::SimSessionDirectory(root), m_clock, posix::NotifyServiceBySocket(root.ControlSocketPath()),
                     &m_diagnostics) {
        m_platform.clock = &m_clock;
        m_platform.registry = &m_registry;
        m_platform.mutexes = &m_mutexes;
        m_platform.threads = &m_threads;
        m_platform.serviceHost = &m_serviceHost;
        m_platform.system = &m_system;
        m_platform.sockets = &m_sockets;
        m_platform.diagnostics = &m_diagnostics;
        m_platform.systemMessages = &m_systemMessages;
        m_platform.appendFiles = &m_appendFiles;
        m_platform.serviceManager = &m_serviceManager;
        m_platform.sessions = &m_sessions;
        m_platform.keyContainers = &m_keyContainers;
        m_platform.smartCards = &m_smartCards;
        m_platform.libraries = &m_libraries;
        m_platform.certificates = &m_certificates;
        m_platform.crlRetriever = &m_crlRetriever;
        m_platform.cspContainers = &m_cspStandIn;
        m_platform.folderFiles = &m_folderFiles;
        m_platform.bluetoothRadios = &m_bluetoothRadios;
        m_platform.pcSoftware = &m_pcSoftware;
        m_platform.tlsStreams = &m_tlsStreams;
    }
    Platform& Get() override { return m_platform; }
    std::string StartProblem() override {
        const std::string dir = m_root.root.empty() ? "/" : m_root.root;
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0) {
            // A root that does not exist yet is made on first use.
            if (errno == ENOENT) return {};
            return "the state root " + dir + " cannot be used: " + std::strerror(errno);
        }
        if (!S_ISDIR(st.st_mode)) return "the state root " + dir + " is not a directory";
        return {};
    }
    void SetArguments(int argc, char** argv) override {
        std::u16string line;
        std::string backend;
        for (int i = 0; i < argc; ++i) {
            // "--sessions=sim|logind" picks the session backend; the rest is the command line
            // the service scans for its verbs.
            if (i > 0 && std::strncmp(argv[i], kSessionsOption, std::strlen(kSessionsOption)) == 0) {
                backend = argv[i] + std::strlen(kSessionsOption);
                continue;
            }
            if (!line.empty()) line.push_back(u' ');
            line += Utf8ToUtf16(argv[i]);
        }
        m_system.SetCommandLine(line);
        ChooseSessions(backend);
    }

private:
    static constexpr const char* kSessionsOption = "--sessions=";

    // The login manager serves an installed service (state root "/"); anywhere else the
    // simulated manager does, so that a build tree never acts on the developer's own sessions.
    void ChooseSessions(const std::string& requested) {
        const bool installed = m_root.root.empty() || m_root.root == "/";
        std::string reason = installed ? "the state root is /" : "the state root is " + m_root.root;
        bool logind = installed;
        if (requested == "logind" || requested == "sim") {
            logind = requested == "logind";
            reason = "--sessions=" + requested;
        } else if (!requested.empty()) {
            reason = "unknown --sessions=" + requested + " (sim or logind); default for " + reason;
        }
        if (logind) {
            std::u16string computer;
            m_system.GetComputerNameNetBios(computer);
            const std::string socketPath = m_root.ControlSocketPath();
            m_logind = std::make_unique<posix::LogindSessions>(
                m_root.Path("etc/krb5.conf"), computer, m_clock,
                [socketPath](uint32_t control, uint32_t eventType, uint32_t sessionId, uint32_t& result) {
                    posix::ControlReply reply;
                    if (posix::SendControl(socketPath, posix::ControlRequest {control, eventType, sessionId}, reply)) {
                        return false;
                    }
                    result = reply.result;
                    return true;
                },
                &m_diagnostics);
            m_platform.sessions = m_logind.get();
        } else {
            m_platform.sessions = &m_sessions;
        }
        // Said, and the login manager watched, once the service runs (not for a verb).
        const std::string line = std::string("sessions: ") +
                                  (logind ? "systemd-logind on the system bus" : "simulated session manager") + " (" +
                                  reason + ")";
        m_serviceHost.SetDispatcherStartHook([this, line] {
            m_diagnostics.Write(line);
            if (m_logind) m_logind->Start();
        });
    }

    posix::StateRoot m_root;
    posix::PosixClock m_clock;
    posix::PosixRegistry m_registry;
    posix::PosixMutexes m_mutexes;
    posix::PosixThreads m_threads;
    posix::PosixServiceHost m_serviceHost;
    posix::PosixSystem m_system;
    posix::PosixSockets m_sockets;
    posix::PosixServiceManager m_serviceManager;
    DiagnosticLog m_diagnostics;
    posix::PosixSystemMessages m_systemMessages;
    posix::PosixAppendFiles m_appendFiles;
    posix::PosixKeyContainers m_keyContainers;
    posix::PosixSmartCards m_smartCards;
    posix::PosixLibraryLoader m_libraries;
    posix::PosixCertificates m_certificates;
    posix::PosixCrlRetriever m_crlRetriever;
    posix::PosixCspStandIn m_cspStandIn;
    posix::PosixFolderFiles m_folderFiles;
    posix::PosixBluetoothRadios m_bluetoothRadios;
    posix::PosixPcSoftware m_pcSoftware;
    posix::PosixTlsStreams m_tlsStreams;
    Platform m_platform;
    posix::PosixSessions m_sessions;
    std::unique_ptr<posix::LogindSessions> m_logind;
};
}  // namespace

std::unique_ptr<NativePlatform> CreateNativePlatform() {
    return std::make_unique<PosixPlatform>(posix::StateRoot::FromEnvironment());
}

}  // namespace corvane
