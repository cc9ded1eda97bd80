// A TLS client stream to the audit collector through the seam: OpenSSL on POSIX, SChannel on
// Windows. The collector's certificate is always verified, against the CA file given (or, on
// Windows when none is given, the machine's Root store), and its name against the host
// connected to; a server that shows no certificate is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvane {

struct TlsClientSettings {
    std::string strHost;  // the collector's name, also the name its certificate must carry
    uint16_t wPort = 0;
    std::string strCaFile;            // PEM file of trusted CAs
    std::string strClientCert;        // PEM, optional
    std::string strClientKey;         // PEM, optional
    std::string strClientThumbprint;  // Windows: a machine-store certificate, optional
    uint32_t nTimeoutMs = 10000;      // for the connect and the handshake
};

enum class TlsIo {
    Ok,
    TimedOut,  // nothing arrived within the wait
    Closed,    // the peer closed the stream
    Failed,    // the stream is broken
};

class ITlsStream {
public:
    virtual ~ITlsStream() = default;
    // Sends every byte, or fails.
    virtual TlsIo Send(const void* data, size_t size) = 0;
    // Waits up to `timeoutMs` for bytes and takes what is there (at least one on Ok).
    virtual TlsIo Receive(void* buffer, size_t size, size_t& received, uint32_t timeoutMs) = 0;
};

class ITlsStreams {
public:
    virtual ~ITlsStreams() = default;
    // Connects and completes the handshake with the collector verified. Null with a one-line
    // reason in `error` when that fails.
    virtual std::unique_ptr<ITlsStream> Connect(const TlsClientSettings& settings, std::string& error) = 0;
};

}  // namespace corvane
