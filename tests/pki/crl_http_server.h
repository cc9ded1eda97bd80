// A tiny HTTP server on 127.0.0.1 with an ephemeral port, serving one answer to every request:
// the CRL, a 404, garbage, the CRL after a delay, or silence. For the CRL download tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

class CrlHttpServer {
public:
    enum class Mode { Serve, NotFound, Garbage, Slow, Silent };

    CrlHttpServer();
    ~CrlHttpServer();

    void Set(Mode mode, std::vector<uint8_t> body = {}, int delayMs = 0);
    // Serves the file's content as it is at each request (Serve mode).
    void ServeFile(std::string path);
    std::string Url(const std::string& path = "/ca.crl") const;
    int Requests() const { return m_requests.load(); }

private:
    void Run();
    void Answer(int client);

    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop {false};
    std::atomic<int> m_requests {0};
    std::mutex m_mutex;
    Mode m_mode = Mode::NotFound;
    std::vector<uint8_t> m_body;
    int m_delayMs = 0;
    std::string m_servePath;
    std::thread m_thread;
};

}  // namespace corvane::test
