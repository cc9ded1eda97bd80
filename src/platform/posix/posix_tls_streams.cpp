#include "platform/posix/posix_tls_streams.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::posix {

namespace {
std::string OpenSslError(const char* what) {
    std::string text = what;
    const unsigned long code = ERR_get_error();
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof(buffer));
        text += " (";
        text += buffer;
        text += ")";
    }
    ERR_clear_error();
    return text;
}

bool IsIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Connects within the time-out to the first address of the host that answers.
int ConnectTcp(const TlsClientSettings& settings, std::string& error) {
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(settings.wPort);
    if (const int rc = getaddrinfo(settings.strHost.c_str(), port.c_str(), &hints, &list); rc != 0) {
        error = "cannot resolve " + settings.strHost + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    error = "no address of " + settings.strHost;
    for (addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) continue;
        int rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p {fd, POLLOUT, 0};
            rc = poll(&p, 1, static_cast<int>(settings.nTimeoutMs));
            int soError = rc == 0 ? ETIMEDOUT : 0;
            socklen_t len = sizeof(soError);
            if (rc > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            rc = soError == 0 ? 0 : -1;
            errno = soError;
        }
        if (rc != 0) {
            error = "cannot connect to " + settings.strHost + ":" + port + ": " + std::strerror(errno);
            close(fd);
            fd = -1;
            continue;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // A window of small messages goes out at once, not held back for acknowledgements.
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    }
    freeaddrinfo(list);
    return fd;
}

class PosixTlsStream final : public ITlsStream {
public:
    PosixTlsStream(SSL_CTX* ctx, SSL* ssl, int fd) : m_ctx(ctx), m_ssl(ssl), m_fd(fd) {}
    ~PosixTlsStream() override {
        SSL_free(m_ssl);
        SSL_CTX_free(m_ctx);
        close(m_fd);
    }

    TlsIo Send(const void* data, size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            size_t written = 0;
            if (SSL_write_ex(m_ssl, bytes, size, &written) != 1) {
                ERR_clear_error();
                return TlsIo::Failed;
            }
            bytes += written;
            size -= written;
        }
        return TlsIo::Ok;
    }

    TlsIo Receive(void* buffer, size_t size, size_t& received, uint32_t timeoutMs) override {
        received = 0;
        if (SSL_pending(m_ssl) == 0) {
            pollfd p {m_fd, POLLIN, 0};
            const int rc = poll(&p, 1, static_cast<int>(timeoutMs));
            if (rc == 0) return TlsIo::TimedOut;
            if (rc < 0) return errno == EINTR ? TlsIo::TimedOut : TlsIo::Failed;
        }
        if (SSL_read_ex(m_ssl, buffer, size, &received) == 1) return TlsIo::Ok;
        const int reason = SSL_get_error(m_ssl, 0);
        ERR_clear_error();
        // A TLS record that is not complete yet: nothing for the caller this time.
        if (reason == SSL_ERROR_WANT_READ) return TlsIo::TimedOut;
        return reason == SSL_ERROR_ZERO_RETURN ? TlsIo::Closed : TlsIo::Failed;
    }

private:
    SSL_CTX* m_ctx;
    SSL* m_ssl;
    int m_fd;
};
}  // namespace

std::unique_ptr<ITlsStream> PosixTlsStreams::Connect(const TlsClientSettings& settings, std::string& error) {
    if (settings.strCaFile.empty()) {
        error = "no CA file is configured to verify the collector";
        return nullptr;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        error = OpenSslError("cannot make a TLS context");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Anonymous key exchanges would let any server stand in for the collector.
    SSL_CTX_set_cipher_list(ctx, "DEFAULT:!aNULL:!eNULL");
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(ctx, settings.strCaFile.c_str(), nullptr) != 1) {
        error = OpenSslError(("cannot read the CA file " + settings.strCaFile).c_str());
        SSL_CTX_free(ctx);
        return nullptr;
    }
    if (!settings.strClientCert.empty()) {
        const std::string& key = settings.strClientKey.empty() ? settings.strClientCert : settings.strClientKey;
        if (SSL_CTX_use_certificate_chain_file(ctx, settings.strClientCert.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx) != 1) {
            error = OpenSslError(("cannot use the client certificate " + settings.strClientCert).c_str());
            SSL_CTX_free(ctx);
            return nullptr;
        }
    }
    const int fd = ConnectTcp(settings, error);
    if (fd < 0) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    // The handshake may not hang on a collector that says nothing.
    timeval tv {static_cast<time_t>(settings.nTimeoutMs / 1000), static_cast<suseconds_t>((settings.nTimeoutMs % 1000) * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));

    SSL* ssl = SSL_new(ctx);
    bool ready = ssl != nullptr && SSL_set_fd(ssl, fd) == 1;
    if (ready && IsIpAddress(settings.strHost)) {
        ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), settings.strHost.c_str()) == 1;
    } else if (ready) {
        ready = SSL_set1_host(ssl, settings.strHost.c_str()) == 1 &&
                SSL_set_tlsext_host_name(ssl, settings.strHost.c_str()) == 1;
    }
    if (!ready) {
        error = OpenSslError("cannot prepare the TLS session");
    } else if (SSL_connect(ssl) != 1) {
        const long verify = SSL_get_verify_result(ssl);
        error = verify != X509_V_OK
                    ? std::string("the collector's certificate is not trusted: ") + X509_verify_cert_error_string(verify)
                    : OpenSslError("the TLS handshake with the collector failed");
        ready = false;
    } else if (X509* peer = SSL_get1_peer_certificate(ssl); peer == nullptr) {
        error = "the collector showed no certificate";
        ready = false;
    } else {
        X509_free(peer);
        if (SSL_get_verify_result(ssl) != X509_V_OK) {
            error = "the collector's certificate is not trusted";
            ready = false;
        }
    }
    if (!ready) {
        ERR_clear_error();
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        close(fd);
        return nullptr;
    }
    timeval none {0, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none));
    return std::make_unique<PosixTlsStream>(ctx, ssl, fd);
}

}  // namespace corvane::posix
