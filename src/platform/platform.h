// The platform seam in one place: every OS service the core uses, as interfaces. The service
// receives a Platform; tests build one from fakes (tests/support) and the program from the
// native backend (POSIX here, Win32 on Windows).
#pragma once

#include <memory>
#include <string>

#include "platform/append_files.h"
#include "platform/certificates.h"
#include "platform/bluetooth_radios.h"
#include "platform/clock.h"
#include "platform/csp_containers.h"
#include "platform/diagnostic_log.h"
#include "platform/folder_files.h"
#include "platform/key_container.h"
#include "platform/library_loader.h"
#include "platform/named_mutex.h"
#include "platform/pc_software.h"
#include "platform/registry.h"
#include "platform/service_host.h"
#include "platform/service_manager.h"
#include "platform/sessions.h"
#include "platform/smart_cards.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "platform/system_messages.h"
#include "platform/threads.h"
#include "platform/tls_streams.h"

namespace corvane {

struct Platform {
    IClock* clock = nullptr;
    IRegistry* registry = nullptr;
    IMutexes* mutexes = nullptr;
    IThreads* threads = nullptr;
    IServiceHost* serviceHost = nullptr;
    ISystem* system = nullptr;
    ISockets* sockets = nullptr;
    DiagnosticLog* diagnostics = nullptr;
    ISystemMessages* systemMessages = nullptr;
    IAppendFiles* appendFiles = nullptr;
    IServiceManager* serviceManager = nullptr;
    ISessions* sessions = nullptr;
    IKeyContainers* keyContainers = nullptr;
    ISmartCards* smartCards = nullptr;
    ILibraryLoader* libraries = nullptr;
    ICertificates* certificates = nullptr;
    ICrlRetriever* crlRetriever = nullptr;
    ICspContainers* cspContainers = nullptr;
    IFolderFiles* folderFiles = nullptr;
    IBluetoothRadios* bluetoothRadios = nullptr;
    IPcSoftware* pcSoftware = nullptr;
    ITlsStreams* tlsStreams = nullptr;  // null where no TLS backend exists
};

// Owns the objects of one backend and hands them out as a Platform.
class NativePlatform {
public:
    virtual ~NativePlatform() = default;
    virtual Platform& Get() = 0;
    // The program's arguments; on POSIX they make up the command line the service scans for
    // verbs (Windows reads its own command line).
    virtual void SetArguments(int argc, char** argv) = 0;
    // Empty when the program can use the machine's places for its state, else a one-line reason
    // (on POSIX: a state root that exists but is not a directory).
    virtual std::string StartProblem() { return {}; }
};

// The backend of the platform this program was built for. On POSIX every path lies under the
// state root ($CORVANE_ROOT, default "/").
std::unique_ptr<NativePlatform> CreateNativePlatform();

}  // namespace corvane
