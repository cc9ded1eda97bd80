#include "service/start_checks.h"

#include <string>

#include "audit/audit_database.h"
#include "audit/audit_reader.h"
#include "platform/text.h"

namespace corvane {

bool ReportAuditTrailState(Platform& platform, CEventLog& eventLog, const Configuration& config) {
    std::u16string directory;
    std::u16string path;
    if (GetAuditDbPath(*platform.system, directory, path) != 0) {
        platform.diagnostics->Write("the audit trail is off: the program data folder cannot be found");
        return false;
    }
    const std::string reason = ProbeAuditFile(path, kAuditPassphrase);
    if (reason.empty()) return true;
    const std::string file = Utf16ToUtf8(path);
    platform.diagnostics->Writef("the audit trail is off: %s %s; the file is left as it is, and recording "
                                 "resumes once it is moved away",
                                 file.c_str(), reason.c_str());
    eventLog.WriteEventLine(u"System:" + config.g_strComputerName + u"|Audit off|" + path + u"|" + Utf8ToUtf16(reason));
    return false;
}

}  // namespace corvane
