// Running a program in a separate process, for the tests that read the records from outside.
#pragma once

#include <string>

#include "audit/audit_passphrase.h"

namespace corvane::test {

struct ProcessResult {
    int exitCode = -1;
    std::string output;  // stdout
    std::string errors;  // stderr
};
// Runs a shell command line in a separate process.
ProcessResult RunProcess(const std::string& commandLine);
std::string ShellQuote(const std::string& text);
std::string HexOf(const AuditPassphrase& bytes);

}  // namespace corvane::test
