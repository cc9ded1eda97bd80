// TLS client streams with SChannel (SSPI). SChannel is told to leave the peer's certificate to
// us (SCH_CRED_MANUAL_CRED_VALIDATION), because Wine's SChannel does not verify it itself: the
// chain is built and the SSL policy checked with the server name through CryptoAPI, against the
// CA file given or, without one, the machine's Root store.
#pragma once

#include "platform/tls_streams.h"

namespace corvane::win32 {

class Win32TlsStreams final : public ITlsStreams {
public:
    std::unique_ptr<ITlsStream> Connect(const TlsClientSettings& settings, std::string& error) override;
};

}  // namespace corvane::win32
