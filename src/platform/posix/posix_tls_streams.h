// TLS client streams with OpenSSL: the collector verified against the configured CA file and
// its certificate's names checked against the configured host.
#pragma once

#include "platform/tls_streams.h"

namespace corvane::posix {

class PosixTlsStreams final : public ITlsStreams {
public:
    std::unique_ptr<ITlsStream> Connect(const TlsClientSettings& settings, std::string& error) override;
};

}  // namespace corvane::posix
