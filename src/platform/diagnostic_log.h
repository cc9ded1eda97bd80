// The diagnostic log: one line per start-up problem (a registry value of the wrong type, a host
// GUID that does not parse, a state root that cannot be written). It is for whoever runs the
// service by hand and is separate from the product's event log. Default sink: standard error.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace corvane {

class DiagnosticLog {
public:
    using Sink = std::function<void(std::string_view line)>;
    DiagnosticLog();
    explicit DiagnosticLog(Sink sink) : m_sink(std::move(sink)) {}
    void Write(std::string_view line);
    void Writef(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex m_mutex;
    Sink m_sink;
};

}  // namespace corvane
