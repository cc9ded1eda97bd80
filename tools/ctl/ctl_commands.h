// corvane-ctl: to this service what sc.exe and reg.exe are to a Windows service. Each verb is a
// function in its own file, registered in the table of ctl_main.cpp. Every verb prints a one-line
// error on stderr and returns 1 when it fails, 2 when it is used wrongly.
#pragma once

#include <string>
#include <vector>

namespace corvane::ctl {

using Args = std::vector<std::string>;  // the words after the verb

int RunStatus(const Args& args);   // ctl_service.cpp
int RunStop(const Args& args);     // ctl_service.cpp
int RunPower(const Args& args);    // ctl_service.cpp
int RunControl(const Args& args);  // ctl_service.cpp
int RunReload(const Args& args);   // ctl_service.cpp
int RunReg(const Args& args);      // ctl_reg.cpp
int RunSession(const Args& args);  // ctl_session.cpp
int RunAudit(const Args& args);    // ctl_audit.cpp
int RunStream(const Args& args);     // ctl_stream.cpp
int RunBleStatus(const Args& args);  // ctl_stream.cpp
int RunRelay(const Args& args);      // ctl_stream.cpp
int RunRadio(const Args& args);    // ctl_radio.cpp
int RunToken(const Args& args);    // ctl_token.cpp
int RunDevices(const Args& args);   // ctl_snapshot.cpp
int RunSessions(const Args& args);  // ctl_snapshot.cpp
int RunReportLogon(const Args& args);  // ctl_report_logon.cpp

// Prints "corvane-ctl: <message>" on stderr and returns 1 (the verb failed).
int Fail(const std::string& message);
// The same for bad use of a verb; returns 2.
int UsageFail(const std::string& message);

}  // namespace corvane::ctl
