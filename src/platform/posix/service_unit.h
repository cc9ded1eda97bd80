// The systemd unit of the service: one text, which the install verb writes under its state root
// and the package ships as /lib/systemd/system/corvane.service. The service tells systemd when it
// is ready and when it stops (Type=notify); systemd stops it with SIGTERM and starts it again
// after a failure. It runs with the file system read-only but for its state, log and run
// directories, a private /tmp, and no way to gain privileges.
#pragma once

#include <string>

namespace corvane::posix {

struct ServiceUnitSpec {
    std::string execStart;        // the program path, quoted for a unit line
    std::string stateRoot;        // empty or "/" for the machine itself
    std::string environment;      // "CORVANE_ROOT=<root>" quoted for a unit line, for another root
    std::string descriptionLine;  // the whole "Description=" line
    std::string displayName;      // already made fit for a unit line
};

std::string FormatServiceUnit(const ServiceUnitSpec& spec);

}  // namespace corvane::posix
