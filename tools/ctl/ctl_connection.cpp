#include "ctl_connection.h"

#include <cstdio>
#include <string>

#include "ctl_numbers.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/state_root.h"
#include "status_text.h"

namespace corvane::ctl {

bool TakeConnectionOptions(Args& words, Connection& c) {
    Args rest;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--keyed") {
            c.keyed = true;
        } else if (words[i] == "--port" && i + 1 < words.size()) {
            const auto n = ParseNumber(words[++i]);
            if (!n || *n == 0 || *n > 0xFFFF) return false;
            c.port = static_cast<uint16_t>(*n);
        } else {
            rest.push_back(words[i]);
        }
    }
    words = rest;
    return true;
}

std::string ErrorText(int rc) {
    // A positive code below the service's range is a Windows Sockets code of the connection;
    // anything else a result code of the exchange.
    if (rc > 0 && rc < 0x10000) return tools::DescribeSocketError(rc);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<uint32_t>(rc));
    return std::string("error ") + hex + tools::StatusTextSuffix(static_cast<uint32_t>(rc));
}

int OpenConnection(const Connection& c, CStreamClient& client) {
    if (int rc = client.Connect(c.port)) {
        return Fail("cannot connect to 127.0.0.1:" + std::to_string(c.port) + " (" + tools::DescribeSocketError(rc) + ")");
    }
    if (c.keyed) {
        posix::PosixSystem system(posix::StateRoot::FromEnvironment());
        const int rc = client.KeyExchange([&](uint8_t* b, size_t n) { return system.GenRandom(b, n); });
        if (rc != 0) return Fail("the key exchange failed (" + ErrorText(rc) + ")");
    }
    return 0;
}

}  // namespace corvane::ctl
