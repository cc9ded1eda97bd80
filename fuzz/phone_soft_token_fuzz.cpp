// Feeds the phone stand-in's soft token and its reply printer with any bytes, as a computer (or
// anything that reached the active channel) could send them. The first two bytes pick the token
// sub-operation, the rest is its data. Besides the sanitizers it checks the token's promises: an
// error carries no payload, and a successful answer has the length its layout gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

#include "phone_pki.h"
#include "remote_requests.h"
#include "soft_token.h"
#include "wire/byte_order.h"

namespace {

using namespace corvane;
using namespace corvane::phone;

std::string g_root;
std::string g_tokenDir;

void RemoveRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

// One token with one container, made once per run under a fresh temporary state root that is
// removed at exit.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/corvane-soft-token-fuzz.XXXXXX";
    const char* root = mkdtemp(pattern);
    std::string error;
    if (!root || !MakePairedContainer(root, "phone-1", "alice@corp.example", "alice", error)) std::abort();
    g_root = root;
    g_tokenDir = PhoneDir(root, "phone-1") + "/token";
    std::atexit(RemoveRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Only the token's range of codes, so that the fuzzer spends its time on the answers.
    const uint16_t code = static_cast<uint16_t>(0x2000 | (ReadU16(data) & 0x01FF));
    const TokenAnswer answer = SoftToken(g_tokenDir).Answer(code, data + 2, size - 2);
    if (answer.status != 0) Check(answer.payload.empty());
    if (answer.status == 0) {
        switch (code) {
        case 0x2003: Check(answer.payload.size() == 4); break;
        case 0x2022: Check(answer.payload.size() == 12 + 256); break;
        case 0x2024:
        case 0x2025: Check(answer.payload.size() == size - 2 - 8); break;
        case 0x2041: Check(answer.payload.size() == 16); break;
        default: break;
        }
    }
    const std::vector<uint8_t> payload(data + 2, data + size);
    const std::string line = DescribeRemoteReply(static_cast<uint16_t>(0x3024 + (data[0] % 6)), data[1], payload);
    Check(line.rfind("status=0x", 0) == 0);
    return 0;
}
