// How the stream channel verbs reach the service: plain or keyed, on the command port or another.
#pragma once

#include <cstdint>
#include <string>

#include "channel/stream_client.h"
#include "ctl_commands.h"
#include "wire/companion_contract.h"

namespace corvane::ctl {

struct Connection {
    bool keyed = false;
    uint16_t port = Contract::COMMAND_PORT;
};

// Takes --keyed and --port PORT out of the words; false for a malformed port.
bool TakeConnectionOptions(Args& words, Connection& c);

// A failed connection or exchange in words: "error 10061: Connection refused", or a result code
// with its text.
std::string ErrorText(int rc);

// Connects the client to 127.0.0.1 and runs the key exchange when asked. 0, or 1 after a line on
// stderr saying what failed.
int OpenConnection(const Connection& c, CStreamClient& client);

}  // namespace corvane::ctl
