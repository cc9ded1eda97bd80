#include "platform/win32/win32_tls_streams.h"

#include "platform/win32/win32_api.h"
// The API headers after <windows.h>.
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "platform/text.h"

namespace corvane::win32 {

namespace {
constexpr size_t kMaxRecord = 16384 + 512;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA of <wininet.h>, which this file does not otherwise need.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

std::string Hex32(long code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Blocks until the socket is readable, up to `timeoutMs`; 1 ready, 0 timed out, -1 failed.
int WaitReadable(SOCKET s, uint32_t timeoutMs) {
    fd_set read;
    FD_ZERO(&read);
    FD_SET(s, &read);
    timeval tv {static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    const int rc = select(0, &read, nullptr, nullptr, &tv);
    return rc > 0 ? 1 : (rc == 0 ? 0 : -1);
}

bool SendAll(SOCKET s, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const int sent = send(s, p, static_cast<int>(size), 0);
        if (sent <= 0) return false;
        p += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

SOCKET ConnectTcp(const TlsClientSettings& settings, std::string& error) {
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(settings.wPort);
    if (getaddrinfo(settings.strHost.c_str(), port.c_str(), &hints, &list) != 0) {
        error = "cannot resolve " + settings.strHost + " (" + std::to_string(WSAGetLastError()) + ")";
        return INVALID_SOCKET;
    }
    SOCKET s = INVALID_SOCKET;
    error = "cannot connect to " + settings.strHost + ":" + port;
    for (addrinfo* ai = list; ai != nullptr && s == INVALID_SOCKET; ai = ai->ai_next) {
        s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int rc = connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen));
        if (rc != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set write;
            fd_set except;
            FD_ZERO(&write);
            FD_ZERO(&except);
            FD_SET(s, &write);
            FD_SET(s, &except);
            timeval tv {static_cast<long>(settings.nTimeoutMs / 1000), 0};
            rc = select(0, nullptr, &write, &except, &tv) > 0 && FD_ISSET(s, &write) ? 0 : -1;
        }
        nonBlocking = 0;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        if (rc != 0) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    freeaddrinfo(list);
    if (s != INVALID_SOCKET) {
        const BOOL one = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    }
    return s;
}

// The certificates of a PEM file in a memory store; null with `error` set when there are none.
HCERTSTORE LoadCaFile(const std::string& path, std::string& error) {
    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(path).c_str()), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot read the CA file " + path;
        return nullptr;
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    size_t count = 0;
    constexpr const char* kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr const char* kEnd = "-----END CERTIFICATE-----";
    for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at + 1)) {
        const size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string pem = text.substr(at, end + std::strlen(kEnd) - at);
        DWORD size = 0;
        if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                 &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                             nullptr)) {
            ++count;
        }
    }
    if (count == 0) {
        CertCloseStore(store, 0);
        error = "no certificate in the CA file " + path;
        return nullptr;
    }
    return store;
}

// Builds the server certificate's chain and checks the SSL policy with the server name. With a
// CA file, the chain must end in one of its certificates; without, in the machine's Root store.
bool VerifyServer(PCCERT_CONTEXT server, const TlsClientSettings& settings, std::string& error) {
    HCERTSTORE caStore = nullptr;
    if (!settings.strCaFile.empty() && (caStore = LoadCaFile(settings.strCaFile, error)) == nullptr) return false;
    CERT_CHAIN_PARA chainPara {};
    chainPara.cbSize = sizeof(chainPara);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, server, nullptr, caStore ? caStore : server->hCertStore, &chainPara, 0,
                                 nullptr, &chain)) {
        error = "the collector's certificate chain cannot be built (" + std::to_string(GetLastError()) + ")";
        if (caStore) CertCloseStore(caStore, 0);
        return false;
    }
    bool ok = true;
    if (caStore) {
        // The root the chain ends in must be one of the CA file's certificates.
        const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
        PCCERT_CONTEXT root = simple && simple->cElement > 0 ? simple->rgpElement[simple->cElement - 1]->pCertContext
                                                             : nullptr;
        PCCERT_CONTEXT found = root ? CertFindCertificateInStore(caStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                                 root, nullptr)
                                    : nullptr;
        if (found == nullptr) {
            error = "the collector's certificate is not trusted: it does not chain to the configured CA";
            ok = false;
        } else {
            CertFreeCertificateContext(found);
        }
    }
    if (ok) {
        std::u16string name = Utf8ToUtf16(settings.strHost);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl {};
        ssl.cbSize = sizeof(ssl);
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = reinterpret_cast<WCHAR*>(name.data());
        // A root from the CA file is not in the machine's Root store; it was checked above.
        ssl.fdwChecks = caStore ? kIgnoreUnknownCa : 0;
        CERT_CHAIN_POLICY_PARA policyPara {};
        policyPara.cbSize = sizeof(policyPara);
        policyPara.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status {};
        status.cbSize = sizeof(status);
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &status)) {
            error = "the collector's certificate cannot be checked (" + std::to_string(GetLastError()) + ")";
            ok = false;
        } else if (status.dwError != 0) {
            error = "the collector's certificate is not trusted (" + Hex32(static_cast<long>(status.dwError)) + ")";
            ok = false;
        }
    }
    CertFreeCertificateChain(chain);
    if (caStore) CertCloseStore(caStore, 0);
    return ok;
}

// A client certificate of the machine's "MY" store, named by its SHA-1 thumbprint in hex.
PCCERT_CONTEXT FindClientCertificate(const std::string& thumbprint, HCERTSTORE& store, std::string& error) {
    std::vector<BYTE> hash;
    for (size_t i = 0; i + 1 < thumbprint.size(); i += 2) {
        if (thumbprint[i] == ' ') {
            --i;
            continue;
        }
        hash.push_back(static_cast<BYTE>(std::strtoul(thumbprint.substr(i, 2).c_str(), nullptr, 16)));
    }
    store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG,
                          L"MY");
    if (store == nullptr) {
        error = "cannot open the machine's certificate store";
        return nullptr;
    }
    CRYPT_HASH_BLOB blob {static_cast<DWORD>(hash.size()), hash.data()};
    PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (cert == nullptr) error = "no certificate with thumbprint " + thumbprint + " in the machine's store";
    return cert;
}

class Win32TlsStream final : public ITlsStream {
public:
    Win32TlsStream(SOCKET s, CredHandle cred, CtxtHandle ctx, std::string extra)
        : m_socket(s), m_cred(cred), m_ctx(ctx), m_received(std::move(extra)) {
        QueryContextAttributesW(&m_ctx, SECPKG_ATTR_STREAM_SIZES, &m_sizes);
    }
    ~Win32TlsStream() override {
        DeleteSecurityContext(&m_ctx);
        FreeCredentialsHandle(&m_cred);
        closesocket(m_socket);
        WSACleanup();  // the reference Connect took
    }

    TlsIo Send(const void* data, size_t size) override {
        const auto* p = static_cast<const char*>(data);
        while (size > 0) {
            const size_t chunk = size < m_sizes.cbMaximumMessage ? size : m_sizes.cbMaximumMessage;
            std::vector<char> record(m_sizes.cbHeader + chunk + m_sizes.cbTrailer);
            std::memcpy(record.data() + m_sizes.cbHeader, p, chunk);
            SecBuffer buffers[4] = {
                {m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + m_sizes.cbHeader},
                {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + m_sizes.cbHeader + chunk},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc {SECBUFFER_VERSION, 4, buffers};
            if (EncryptMessage(&m_ctx, 0, &desc, 0) != SEC_E_OK) return TlsIo::Failed;
            if (!SendAll(m_socket, record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) {
                return TlsIo::Failed;
            }
            p += chunk;
            size -= chunk;
        }
        return TlsIo::Ok;
    }

    TlsIo Receive(void* buffer, size_t size, size_t& received, uint32_t timeoutMs) override {
        received = 0;
        while (m_plain.empty()) {
            // Decrypt whatever whole records are buffered first.
            if (!m_received.empty()) {
                const TlsIo io = DecryptBuffered();
                if (io != TlsIo::Ok) return io;
                if (!m_plain.empty()) break;
            }
            const int ready = WaitReadable(m_socket, timeoutMs);
            if (ready == 0) return TlsIo::TimedOut;
            if (ready < 0) return TlsIo::Failed;
            char chunk[kMaxRecord];
            const int got = recv(m_socket, chunk, sizeof(chunk), 0);
            if (got == 0) return TlsIo::Closed;
            if (got < 0) return TlsIo::Failed;
            m_received.append(chunk, static_cast<size_t>(got));
            m_bNeedMore = false;
        }
        received = size < m_plain.size() ? size : m_plain.size();
        std::memcpy(buffer, m_plain.data(), received);
        m_plain.erase(0, received);
        return TlsIo::Ok;
    }

private:
    // Ok with plain text added (or none when a record is incomplete); Closed or Failed otherwise.
    TlsIo DecryptBuffered() {
        while (!m_received.empty() && !m_bNeedMore) {
            SecBuffer buffers[4] = {
                {static_cast<unsigned long>(m_received.size()), SECBUFFER_DATA, m_received.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc {SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(&m_ctx, &desc, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                m_bNeedMore = true;
                return TlsIo::Ok;
            }
            if (status == SEC_I_CONTEXT_EXPIRED) return TlsIo::Closed;
            if (status != SEC_E_OK) return TlsIo::Failed;
            std::string extra;
            for (const SecBuffer& b : buffers) {
                if (b.BufferType == SECBUFFER_DATA) m_plain.append(static_cast<char*>(b.pvBuffer), b.cbBuffer);
                if (b.BufferType == SECBUFFER_EXTRA) {
                    extra.assign(m_received.data() + m_received.size() - b.cbBuffer, b.cbBuffer);
                }
            }
            m_received = std::move(extra);
        }
        return TlsIo::Ok;
    }

    SOCKET m_socket;
    CredHandle m_cred;
    CtxtHandle m_ctx;
    SecPkgContext_StreamSizes m_sizes {};
    std::string m_received;  // bytes from the socket not yet decrypted
    std::string m_plain;     // decrypted bytes not yet taken
    bool m_bNeedMore = false;
};

constexpr unsigned long kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                        ISC_REQ_MANUAL_CRED_VALIDATION;

// The handshake; on success `ctx` is the session and `extra` holds bytes read past its end.
bool Handshake(SOCKET s, CredHandle& cred, CtxtHandle& ctx, const std::u16string& target, std::string& extra,
               uint32_t timeoutMs, std::string& error) {
    std::string input;
    bool haveContext = false;
    while (true) {
        SecBuffer in[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc {SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &cred, haveContext ? &ctx : nullptr,
            reinterpret_cast<SEC_WCHAR*>(const_cast<char16_t*>(target.c_str())), kContextFlags, 0, 0,
            haveContext ? &inDesc : nullptr, 0, haveContext ? nullptr : &ctx, &outDesc, &attributes, nullptr);
        haveContext = true;
        if (out[0].cbBuffer > 0 && out[0].pvBuffer != nullptr) {
            const bool sent = SendAll(s, out[0].pvBuffer, out[0].cbBuffer);
            FreeContextBuffer(out[0].pvBuffer);
            if (!sent) {
                error = "the connection to the collector broke during the handshake";
                return false;
            }
        }
        if (status == SEC_E_OK) {
            if (in[1].BufferType == SECBUFFER_EXTRA) extra.assign(input.data() + input.size() - in[1].cbBuffer, in[1].cbBuffer);
            return true;
        }
        if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
            error = "the TLS handshake with the collector failed (" + Hex32(status) + ")";
            return false;
        }
        if (status == SEC_I_CONTINUE_NEEDED) {
            if (in[1].BufferType == SECBUFFER_EXTRA) {
                input.assign(input.data() + input.size() - in[1].cbBuffer, in[1].cbBuffer);
            } else {
                input.clear();
            }
            if (!input.empty()) continue;
        }
        if (WaitReadable(s, timeoutMs) != 1) {
            error = "the collector did not complete the TLS handshake";
            return false;
        }
        char chunk[kMaxRecord];
        const int got = recv(s, chunk, sizeof(chunk), 0);
        if (got <= 0) {
            error = "the collector closed the connection during the handshake";
            return false;
        }
        input.append(chunk, static_cast<size_t>(got));
    }
}
}  // namespace

std::unique_ptr<ITlsStream> Win32TlsStreams::Connect(const TlsClientSettings& settings, std::string& error) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        error = "Windows Sockets cannot start";
        return nullptr;
    }
    HCERTSTORE clientStore = nullptr;
    PCCERT_CONTEXT clientCert = nullptr;
    if (!settings.strClientThumbprint.empty()) {
        clientCert = FindClientCertificate(settings.strClientThumbprint, clientStore, error);
        if (clientCert == nullptr) {
            if (clientStore) CertCloseStore(clientStore, 0);
            WSACleanup();
            return nullptr;
        }
    }
    SCHANNEL_CRED schannel {};
    schannel.dwVersion = SCHANNEL_CRED_VERSION;
    schannel.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    // The peer is verified below, through CryptoAPI (Wine's SChannel would not do it).
    schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    if (clientCert) {
        schannel.cCreds = 1;
        schannel.paCred = &clientCert;
    }
    CredHandle cred;
    TimeStamp expiry;
    const SECURITY_STATUS acquired =
        AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &schannel, nullptr, nullptr, &cred, &expiry);
    if (clientCert) CertFreeCertificateContext(clientCert);
    if (clientStore) CertCloseStore(clientStore, 0);
    if (acquired != SEC_E_OK) {
        error = "cannot get TLS credentials (" + Hex32(acquired) + ")";
        WSACleanup();
        return nullptr;
    }
    const SOCKET s = ConnectTcp(settings, error);
    if (s == INVALID_SOCKET) {
        FreeCredentialsHandle(&cred);
        WSACleanup();
        return nullptr;
    }
    CtxtHandle ctx {};
    std::string extra;
    bool ok = Handshake(s, cred, ctx, Utf8ToUtf16(settings.strHost), extra, settings.nTimeoutMs, error);
    if (ok) {
        PCCERT_CONTEXT server = nullptr;
        if (QueryContextAttributesW(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK || server == nullptr) {
            // An anonymous server could be anyone.
            error = "the collector showed no certificate";
            ok = false;
        } else {
            ok = VerifyServer(server, settings, error);
            CertFreeCertificateContext(server);
        }
        if (!ok) DeleteSecurityContext(&ctx);
    }
    if (!ok) {
        closesocket(s);
        FreeCredentialsHandle(&cred);
        WSACleanup();
        return nullptr;
    }
    return std::make_unique<Win32TlsStream>(s, cred, ctx, std::move(extra));
}

}  // namespace corvane::win32
