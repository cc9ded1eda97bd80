// Tokens: a raw RSA-2048 private operation and a container lookup through the token request
// 0x7011, next to the same operations called directly on SoftHSM2 through PKCS#11 (the peer).
// The service side goes through the test token module in front of the same SoftHSM2 token.
#ifdef CORVANE_TESTTOKEN_PATH
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "token/p11_names.h"
#include "token/token_access.h"
#include "token/token_payload.h"
#include "wire/byte_order.h"

namespace corvane {
namespace {

constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";

// One SoftHSM2 token with a container "Alpha" holding a 2048-bit exchange key pair, reached
// through the service's token layer and directly.
class TokenBench {
public:
    TokenBench() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/corvane-token-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        m_root = pattern;
        std::filesystem::create_directories(m_root + "/tokens");
        const std::string conf = m_root + "/softhsm2.conf";
        std::ofstream(conf) << "directories.tokendir = " << m_root << "/tokens\nlog.level = ERROR\n";
        ::setenv("SOFTHSM2_CONF", conf.c_str(), 1);
        ::setenv("CORVANE_ROOT", m_root.c_str(), 1);
        if (std::system("softhsm2-util --init-token --free --label bench --so-pin 1234 --pin 5678 >/dev/null") != 0) {
            std::abort();
        }
        m_native = CreateNativePlatform();
        Platform& platform = m_native->Get();
        platform.registry->CreateKey(kP11LibraryKey);
        RegSetString(*platform.registry, kP11LibraryKey, kLibPkcs11Value, Utf8ToUtf16(CORVANE_TESTTOKEN_PATH));
        m_tokens = std::make_unique<CTokenAccess>(platform);
        if (m_tokens->Binding().InitP11() != 0) std::abort();
        m_slotId = m_tokens->Binding().SlotAt(0).SlotId();
        std::vector<uint8_t> pin = {'5', '6', '7', '8', 0};
        Send(0x2012, pin);
        Send(0x2001, {'A', 'l', 'p', 'h', 'a', 0});
        m_container = ReadU32(m_reply.data());
        std::vector<uint8_t> generate(16);
        WriteU32(generate.data(), m_container);
        WriteU32(generate.data() + 4, 1);
        WriteU32(generate.data() + 8, 2048);
        WriteU32(generate.data() + 12, 65537);
        if (Send(0x2021, generate) != 0) std::abort();

        // The peer: the same SoftHSM2 instance, its own session (the login is the token's).
        void* library = ::dlopen(kSoftHsm, RTLD_NOW | RTLD_NOLOAD);
        auto get = library ? reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library, "C_GetFunctionList")) : nullptr;
        if (get == nullptr || get(&m_soft) != CKR_OK) std::abort();
        if (m_soft->C_OpenSession(m_tokens->Binding().SlotAt(0).LibrarySlotId(), CKF_SERIAL_SESSION | CKF_RW_SESSION,
                                  nullptr, nullptr, &m_session) != CKR_OK) {
            std::abort();
        }
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        const std::string id = "Alpha_cspX";
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_ID, const_cast<char*>(id.data()), id.size()}};
        CK_ULONG count = 0;
        m_soft->C_FindObjectsInit(m_session, t, 2);
        m_soft->C_FindObjects(m_session, &m_privateKey, 1, &count);
        m_soft->C_FindObjectsFinal(m_session);
        if (count != 1) std::abort();
    }
    ~TokenBench() {
        m_soft->C_CloseSession(m_session);
        m_tokens->Binding().FinP11();
        m_tokens.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

    uint32_t Send(uint16_t subOpcode, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> request = BuildTokenOperation(m_slotId, subOpcode, data.data(), data.size());
        ReplyArena arena;
        TokenReply reply;
        const uint32_t status =
            m_tokens->Requests().HandleTokenOperation(request.data(), request.size(), arena, reply);
        m_reply.assign(reply.pPayload, reply.pPayload + reply.wLength);
        return status;
    }
    std::vector<uint8_t> RawRequest() const {
        std::vector<uint8_t> data(8 + 256, 0x42);
        WriteU32(data.data(), m_container);
        WriteU32(data.data() + 4, 1);
        data[8] = 0;
        return data;
    }

    CK_FUNCTION_LIST* m_soft = nullptr;
    CK_SESSION_HANDLE m_session = 0;
    CK_OBJECT_HANDLE m_privateKey = 0;

private:
    std::string m_root;
    std::unique_ptr<NativePlatform> m_native;
    std::unique_ptr<CTokenAccess> m_tokens;
    uint32_t m_slotId = 0;
    uint32_t m_container = 0;
    std::vector<uint8_t> m_reply;
};

TokenBench& Bench() {
    static TokenBench bench;
    return bench;
}

void BM_TokenRsa2048Private_corvane(benchmark::State& state) {
    TokenBench& bench = Bench();
    const std::vector<uint8_t> data = bench.RawRequest();
    for (auto _ : state) {
        if (bench.Send(0x2024, data) != 0) state.SkipWithError("raw operation failed");
    }
}

void BM_TokenRsa2048Private_softhsm(benchmark::State& state) {
    TokenBench& bench = Bench();
    std::vector<uint8_t> block(256, 0x42);
    block[0] = 0;
    std::vector<uint8_t> out(256);
    CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
    for (auto _ : state) {
        CK_ULONG length = out.size();
        if (bench.m_soft->C_DecryptInit(bench.m_session, &mechanism, bench.m_privateKey) != CKR_OK ||
            bench.m_soft->C_Decrypt(bench.m_session, block.data(), block.size(), out.data(), &length) != CKR_OK) {
            state.SkipWithError("raw operation failed");
        }
    }
}

void BM_TokenContainerLookup_corvane(benchmark::State& state) {
    TokenBench& bench = Bench();
    const std::vector<uint8_t> name = {'A', 'l', 'p', 'h', 'a', 0};
    for (auto _ : state) {
        if (bench.Send(0x2003, name) != 0) state.SkipWithError("lookup failed");
    }
}

void BM_TokenContainerLookup_softhsm(benchmark::State& state) {
    TokenBench& bench = Bench();
    // The container as the test token stores it: a data object with its label.
    CK_OBJECT_CLASS cls = CKO_DATA;
    const std::string label = "Alpha";
    for (auto _ : state) {
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        CK_OBJECT_HANDLE object = 0;
        CK_ULONG count = 0;
        char buffer[256];
        CK_ATTRIBUTE read = {CKA_LABEL, buffer, sizeof(buffer)};
        bench.m_soft->C_FindObjectsInit(bench.m_session, t, 2);
        bench.m_soft->C_FindObjects(bench.m_session, &object, 1, &count);
        bench.m_soft->C_FindObjectsFinal(bench.m_session);
        if (count != 1 || bench.m_soft->C_GetAttributeValue(bench.m_session, object, &read, 1) != CKR_OK) {
            state.SkipWithError("lookup failed");
        }
    }
}

BENCHMARK(BM_TokenRsa2048Private_corvane)->Name("TokenRsa2048Private/corvane")->UseRealTime();
BENCHMARK(BM_TokenRsa2048Private_softhsm)->Name("TokenRsa2048Private/softhsm")->UseRealTime();
BENCHMARK(BM_TokenContainerLookup_corvane)->Name("TokenContainerLookup/corvane")->UseRealTime();
BENCHMARK(BM_TokenContainerLookup_softhsm)->Name("TokenContainerLookup/softhsm")->UseRealTime();

}  // namespace
}  // namespace corvane
#endif
