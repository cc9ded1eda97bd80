#include "lan_socket.h"

#include <cstdint>
#include <cstdlib>

#include "channel/socket_helpers.h"
#include "platform/text.h"
#include "wire/program_args.h"

namespace corvane::lan {

LanSocket::LanSocket(ISockets& sockets) : m_sockets(sockets) {}

LanSocket::~LanSocket() { CloseSocket(m_sockets, m_socket); }

int LanSocket::Open(uint32_t address, uint16_t port) {
    if (int rc = CreateSocket(m_sockets, SocketKind::Datagram, m_socket)) return rc;
    m_sockets.SetBroadcast(m_socket, true);
    return m_sockets.Bind(m_socket, SockAddrIn::Inet(address, port));
}

int LanSocket::SendTo(const std::vector<uint8_t>& datagram, const SockAddrIn& to) {
    size_t sent = 0;
    return m_sockets.SendTo(m_socket, datagram.data(), datagram.size(), to, sent);
}

std::optional<Received> LanSocket::Receive(uint32_t timeoutMs) {
    if (WaitSocket(m_sockets, m_socket, SocketWait::Read, static_cast<int>(timeoutMs ? timeoutMs : 1)) != 0) {
        return std::nullopt;
    }
    Received r;
    r.data.resize(65536);
    size_t received = 0;
    if (m_sockets.ReceiveFrom(m_socket, r.data.data(), r.data.size(), received, r.from) != 0) return std::nullopt;
    r.data.resize(received);
    return r;
}

std::optional<uint32_t> ResolveAddress(ISockets& sockets, const std::string& host) {
    SockAddrIn address;
    if (ResolveHost(sockets, Utf8ToUtf16(host), address) != 0) return std::nullopt;
    return address.address;
}

std::string Hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

std::optional<std::vector<uint8_t>> ParseHex(const std::string& text) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::optional<uint32_t> ParseNumber(const std::string& text) {
    const auto value = ParseInteger(text, INT32_MIN, UINT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

}  // namespace corvane::lan
