#include "platform/diagnostic_log.h"

#include <cstdarg>
#include <cstdio>

namespace corvane {

DiagnosticLog::DiagnosticLog()
    : m_sink([](std::string_view line) {
          std::fwrite(line.data(), 1, line.size(), stderr);
          std::fputc('\n', stderr);
          std::fflush(stderr);
      }) {}

void DiagnosticLog::Write(std::string_view line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sink) m_sink(line);
}

void DiagnosticLog::Writef(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Write(buffer);
}

}  // namespace corvane
