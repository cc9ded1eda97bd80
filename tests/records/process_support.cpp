#include "process_support.h"

#include <sys/wait.h>

#include <cstdio>

#include "platform/text.h"
#include "records_test_support.h"
#include "support/temp_dir.h"

namespace corvane::test {

ProcessResult RunProcess(const std::string& commandLine) {
    TempDir scratch;
    const std::string errPath = scratch.Path("stderr");
    ProcessResult result;
    FILE* pipe = ::popen((commandLine + " 2>" + ShellQuote(errPath)).c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.errors = ReadFileBytes(errPath);
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}

std::string HexOf(const AuditPassphrase& bytes) {
    std::string hex;
    for (uint8_t b : bytes) hex += FormatUtf8("%02X", b);
    return hex;
}

}  // namespace corvane::test
