#include "platform/posix/service_unit.h"

#include <sstream>

namespace corvane::posix {

std::string FormatServiceUnit(const ServiceUnitSpec& spec) {
    const bool machine = spec.stateRoot.empty() || spec.stateRoot == "/";
    const std::string root = machine ? std::string() : spec.stateRoot;
    std::ostringstream unit;
    unit << "# The Corvane service. Its install verb writes this unit under a state root (and its\n"
            "# uninstall verb removes it); the package ships it for the machine itself.\n";
    unit << "[Unit]\n";
    unit << spec.descriptionLine << "\n";
    unit << "X-DisplayName=" << spec.displayName << "\n";
    unit << "After=network.target dbus.service systemd-logind.service pcscd.socket\n\n";
    unit << "[Service]\n";
    // READY=1 once the service reports RUNNING, STOPPING=1 at the stop control.
    unit << "Type=notify\n";
    unit << "ExecStart=" << spec.execStart << "\n";
    // A service installed under another state root keeps using it when systemd starts it.
    if (!machine) unit << "Environment=" << spec.environment << "\n";
    unit << "KillSignal=SIGTERM\n";
    unit << "TimeoutStopSec=20\n";
    unit << "Restart=on-failure\n";
    unit << "RestartSec=2\n";
    // Everything read-only but the state, log and run directories (made by systemd for the
    // machine itself; a missing one under another root is skipped, not an error).
    unit << "ProtectSystem=strict\n";
    if (machine) {
        unit << "StateDirectory=corvane\n";
        unit << "LogsDirectory=corvane\n";
        unit << "RuntimeDirectory=corvane\n";
        unit << "RuntimeDirectoryPreserve=restart\n";
    }
    unit << "ReadWritePaths=-" << root << "/var/lib/corvane -" << root << "/var/log/corvane -" << root
         << "/run/corvane\n";
    unit << "PrivateTmp=yes\n";
    unit << "NoNewPrivileges=yes\n\n";
    unit << "[Install]\n";
    unit << "WantedBy=multi-user.target\n";
    return unit.str();
}

}  // namespace corvane::posix
