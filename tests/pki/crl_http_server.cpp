#include "pki/crl_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace corvane::test {

CrlHttpServer::CrlHttpServer() {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listen, 16) != 0) {
        throw std::runtime_error("CRL server: cannot listen");
    }
    socklen_t len = sizeof addr;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CrlHttpServer::~CrlHttpServer() {
    m_stop = true;
    m_thread.join();
    close(m_listen);
}

void CrlHttpServer::Set(Mode mode, std::vector<uint8_t> body, int delayMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    m_body = std::move(body);
    m_delayMs = delayMs;
}

void CrlHttpServer::ServeFile(std::string path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = Mode::Serve;
    m_servePath = std::move(path);
}

std::string CrlHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void CrlHttpServer::Run() {
    while (!m_stop) {
        pollfd p {m_listen, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ++m_requests;
        Answer(client);
        close(client);
    }
}

void CrlHttpServer::Answer(int client) {
    // Read the request head (the tests' requests are small).
    std::string request;
    char buf[2048];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p {client, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) return;
        request.append(buf, static_cast<size_t>(n));
    }
    Mode mode;
    std::vector<uint8_t> body;
    int delayMs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        mode = m_mode;
        body = m_body;
        delayMs = m_delayMs;
        if (!m_servePath.empty()) {
            std::ifstream in(m_servePath, std::ios::binary);
            body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    auto wait = [&](int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    std::string answer;
    switch (mode) {
        case Mode::Silent: wait(30000); return;
        case Mode::NotFound: answer = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"; break;
        case Mode::Garbage: body.assign({'n', 'o', 't', ' ', 'a', ' ', 'c', 'r', 'l'}); [[fallthrough]];
        case Mode::Slow:
        case Mode::Serve:
            if (mode == Mode::Slow) wait(delayMs);
            answer = "HTTP/1.0 200 OK\r\nContent-Type: application/pkix-crl\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n";
            answer.append(body.begin(), body.end());
            break;
    }
    send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
}

}  // namespace corvane::test
