// Tokens: a raw RSA-2048 private operation and a container lookup as the CSP asks for them, token
// requests 0x7011 on a keyed stream channel connection (the service's listener on an ephemeral
// loopback port, its request table and the token layer behind it, the client library in front),
// next to the same operations called directly on SoftHSM2 through PKCS#11 (the peer). The service
// side goes through the test token module in front of the same SoftHSM2 token.
#ifdef CORVANE_TESTTOKEN_PATH
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/logon_report.h"
#include "channel/stream_listener.h"
#include "channel/stream_request_handler.h"
#include "channel/stream_token_client.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/token_stream_requests.h"
#include "session/logon_state.h"
#include "token/p11_names.h"
#include "token/token_access.h"

namespace corvane {
namespace {

constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";

// The service's stream channel with the token layer behind it, listening on an ephemeral
// loopback port until Stop.
class StreamService {
public:
    StreamService(Platform& platform, CTokenRequests& tokens) : m_platform(platform), m_adapter(tokens) {
        m_handler.SetTokenRequests(&m_adapter);
        m_listener.m_wPort = 0;
        m_thread = std::thread([this] { m_listener.ListenerThread({m_stop, m_tcpStopped, m_listenSocket, m_workers}); });
        while (m_listener.m_wListeningPort == 0) std::this_thread::yield();
    }
    uint16_t Port() const { return m_listener.m_wListeningPort; }
    // The listener's stop: the flag, one connection to wake its accept, Windows Sockets drained.
    void Stop() {
        m_stop = 1;
        CStreamClient wake(*m_platform.sockets);
        wake.Connect(Port());
        wake.Close();
        while (m_platform.sockets->Cleanup() == 0) {
        }
        m_thread.join();
        while (m_workers != 0) std::this_thread::yield();
    }

private:
    Platform& m_platform;
    Configuration m_config;
    CNetDeviceTable m_table {*m_platform.clock, m_config.m_hDevNetMutex};
    DeviceMap m_devices {m_config};
    CLogonReports m_reports {m_platform, m_config, m_table, m_devices};
    std::atomic<bool> m_forwardEnabled {false};
    CLogonState m_logonState;
    CStreamRequestHandler m_handler {m_config, m_forwardEnabled, m_reports, m_table, m_logonState,
                                     [this](uint8_t* b, size_t n) { return m_platform.system->GenRandom(b, n); }};
    CTokenStreamRequests m_adapter;
    CStreamListener m_listener {m_platform, m_handler};
    std::atomic<int32_t> m_stop {0}, m_tcpStopped {1}, m_workers {0};
    std::atomic<intptr_t> m_listenSocket {-1};
    std::thread m_thread;
};

// One SoftHSM2 token with a container "Alpha" holding a 2048-bit exchange key pair, reached
// through the service's stream channel and directly.
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
        platform.sockets->Startup();
        platform.registry->CreateKey(kP11LibraryKey);
        RegSetString(*platform.registry, kP11LibraryKey, kLibPkcs11Value, Utf8ToUtf16(CORVANE_TESTTOKEN_PATH));
        m_tokens = std::make_unique<CTokenAccess>(platform);
        if (m_tokens->Binding().InitP11() != 0) std::abort();
        m_tokens->Requests().GetLogonComponentState = [] { return uint16_t {0}; };
        m_tokens->Requests().RecordCardSignIn = [](const TokenSignIn&) {};
        slotId = m_tokens->Binding().SlotAt(0).SlotId();

        // The CSP's side: one keyed connection, kept for the run.
        m_service = std::make_unique<StreamService>(platform, m_tokens->Requests());
        m_connection = std::make_unique<CStreamClient>(*platform.sockets);
        if (m_connection->Connect(m_service->Port()) != 0 ||
            m_connection->KeyExchange([&platform](uint8_t* b, size_t n) { return platform.system->GenRandom(b, n); }) != 0) {
            std::abort();
        }
        client = std::make_unique<CStreamTokenClient>(*m_connection);
        TokenLoginState login;
        TokenPublicKey key;
        if (client->Login(slotId, "5678", login) != 0 || !login.loggedIn ||
            client->CreateContainer(slotId, "Alpha", container) != 0 ||
            client->GenerateKeyPair(slotId, container, 1, 2048, 65537, key) != 0) {
            std::abort();
        }

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
        client.reset();
        m_connection->Close();
        m_service->Stop();
        m_tokens->Binding().FinP11();
        m_tokens.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

    std::unique_ptr<CStreamTokenClient> client;
    uint32_t slotId = 0;
    uint32_t container = 0;
    CK_FUNCTION_LIST* m_soft = nullptr;
    CK_SESSION_HANDLE m_session = 0;
    CK_OBJECT_HANDLE m_privateKey = 0;

private:
    std::string m_root;
    std::unique_ptr<NativePlatform> m_native;
    std::unique_ptr<CTokenAccess> m_tokens;
    std::unique_ptr<StreamService> m_service;
    std::unique_ptr<CStreamClient> m_connection;
};

TokenBench& Bench() {
    static TokenBench bench;
    return bench;
}

void BM_TokenRsa2048Private_corvane(benchmark::State& state) {
    TokenBench& bench = Bench();
    std::vector<uint8_t> block(256, 0x42);
    block[0] = 0;
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (bench.client->RsaRaw(bench.slotId, bench.container, 1, true, block, out) != 0) {
            state.SkipWithError("raw operation failed");
            break;
        }
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
    TokenContainerEntry found;
    for (auto _ : state) {
        if (bench.client->FindContainer(bench.slotId, "Alpha", found) != 0) {
            state.SkipWithError("lookup failed");
            break;
        }
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
