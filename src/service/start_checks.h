// Problems that would otherwise go unnoticed from the start of the service on: an audit database
// file that cannot be used keeps no rows at all. Each is said once, on the diagnostic output and
// in the event log.
#pragma once

#include "config/configuration.h"
#include "platform/platform.h"
#include "session/event_log.h"

namespace corvane {

// Probes the audit file read-only and, when it is there but cannot be used, writes one
// diagnostic line and one event line naming the file and the reason. The file is left as it is:
// it may belong to another build or tool, and a wrong passphrase cannot be told from garbage.
// True when the audit trail can be kept.
bool ReportAuditTrailState(Platform& platform, CEventLog& eventLog, const Configuration& config);

}  // namespace corvane
