// A client of the loopback stream channel, plain or keyed: connects to a port on 127.0.0.1,
// optionally runs the key exchange with an RSA key of its own, then sends requests and reads one
// framed reply each, encrypting and decrypting payloads once keyed. Shared by corvane-ctl, the
// logon component and CSP stand-ins, the tests and the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "channel/stream_session_cipher.h"
#include "crypto/random_source.h"
#include "crypto/rsa.h"
#include "platform/sockets.h"
#include "wire/msg_header.h"

namespace corvane {

inline constexpr int kStreamClientTimeoutMs = 10000;
inline constexpr uint32_t kStreamClientKeyBits = 1024;
inline constexpr uint32_t kStreamClientKeyExponent = 65537;

// One received reply: its header (the `length` as sent on the wire) and the plain payload.
struct StreamMessage {
    MsgHeader header;
    std::vector<uint8_t> payload;
};

class CStreamClient {
public:
    explicit CStreamClient(ISockets& sockets);
    ~CStreamClient();
    CStreamClient(const CStreamClient&) = delete;
    CStreamClient& operator=(const CStreamClient&) = delete;

    // Connects to 127.0.0.1:port. 0 or a Windows Sockets error.
    int Connect(uint16_t port);
    // Serves an already connected socket (taken over; closed by this object).
    void Adopt(SocketHandle s) { m_socket = s; }
    void Close();
    bool IsConnected() const { return IsValidSocket(m_socket); }

    // Key exchange with a new key pair of `bits` bits from `random`. 0 once keyed; otherwise a
    // Windows Sockets error, the service's error status, or 0x80090005 when the reply does not
    // unwrap to a session key with a matching check block. The connection is plain after a failure.
    int KeyExchange(const RandomSource& random, uint32_t bits = kStreamClientKeyBits);
    // The same with a key pair of the caller's (kept by the caller).
    int KeyExchange(RsaHandle keyPair);
    bool IsKeyed() const { return m_pCipher != nullptr; }

    // Sends one request and reads its reply. 0 with the reply (decrypted when keyed and not
    // empty), a Windows Sockets error, or 0x80090005 for a reply that does not decrypt.
    int Request(uint16_t code, uint32_t status, const uint8_t* payload, size_t size, StreamMessage& reply,
                int timeoutMs = kStreamClientTimeoutMs);
    // Sends raw bytes, exactly as given (for tests of malformed framing).
    int SendRaw(const uint8_t* data, size_t size, int timeoutMs = kStreamClientTimeoutMs);
    // Reads one framed message as it comes (no decryption).
    int ReceiveRaw(StreamMessage& message, int timeoutMs = kStreamClientTimeoutMs);

    SocketHandle Socket() const { return m_socket; }

private:
    ISockets& m_sockets;
    SocketHandle m_socket = kInvalidSocket;
    std::unique_ptr<CSessionCipher> m_pCipher;
};

}  // namespace corvane
