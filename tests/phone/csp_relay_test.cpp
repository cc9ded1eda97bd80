// The CSP stand-in's Bluetooth phone containers: the token commands go to a small stream server
// of the test as 0x5101 requests (the service's side), whose soft token answers as a phone does.
// The key proof passes through it end to end; unreachable services, the service's refusals and
// replies with wrong codes or lengths each give their error.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "pki/pki_world.h"
#include "platform/posix/posix_csp_stand_in.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

constexpr const char* kDevice = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
constexpr uint32_t kHandle = 0x51;

// One inner request as the server received it, and what it answers.
struct Inner {
    std::string deviceId;
    uint16_t code = 0;
    std::vector<uint8_t> data;
};
struct Answer {
    uint16_t code = 0;
    uint32_t status = 0;
    std::vector<uint8_t> payload;
};

bool ReadExact(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t got = recv(fd, p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// The service's stream channel as far as 0x5101 goes: one request per connection.
class FakeStreamServer {
public:
    explicit FakeStreamServer(std::function<Answer(const Inner&)> answer) : m_answer(std::move(answer)) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        listen(m_listen, 5);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeStreamServer() {
        shutdown(m_listen, SHUT_RDWR);
        close(m_listen);
        m_thread.join();
    }
    std::vector<Inner> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    uint16_t port = 0;

private:
    void Serve() {
        for (;;) {
            const int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0) return;
            uint8_t header[8];
            if (ReadExact(fd, header, 8)) {
                std::vector<uint8_t> payload(ReadU16(header + 2));
                if (ReadExact(fd, payload.data(), payload.size()) && ReadU16(header) == 0x5101 && payload.size() >= 48) {
                    Inner inner;
                    inner.deviceId.assign(reinterpret_cast<const char*>(payload.data()),
                                          strnlen(reinterpret_cast<const char*>(payload.data()), 40));
                    inner.code = ReadU16(payload.data() + 40);
                    EXPECT_EQ(ReadU16(payload.data() + 42), payload.size() - 48);
                    inner.data.assign(payload.begin() + 48, payload.end());
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_received.push_back(inner);
                    }
                    Answer a = m_answer(inner);
                    std::vector<uint8_t> reply(8 + a.payload.size());
                    WriteU16(reply.data(), a.code ? a.code : static_cast<uint16_t>(inner.code | 0x8000));
                    WriteU16(reply.data() + 2, static_cast<uint16_t>(a.payload.size()));
                    WriteU32(reply.data() + 4, a.status);
                    std::copy(a.payload.begin(), a.payload.end(), reply.begin() + 8);
                    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
            close(fd);
        }
    }

    int m_listen = -1;
    std::function<Answer(const Inner&)> m_answer;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Inner> m_received;
};

std::vector<uint8_t> U32s(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) {
        uint8_t b[4];
        WriteU32(b, v);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

// A phone's soft token holding one container "alice" with the leaf's key and certificate.
class SoftToken {
public:
    explicit SoftToken(const TestCert& leaf) : m_leaf(leaf) {}
    Answer operator()(const Inner& in) const {
        switch (in.code) {
        case 0x2003: {
            const std::string name(in.data.begin(), in.data.end());
            if (name != std::string("alice\0", 6)) return {0, 0x80090016, {}};
            return {0, 0, U32s({kHandle})};
        }
        case 0x2022: {
            if (in.data != U32s({kHandle, 1}) && in.data != U32s({kHandle, 2})) return {0, 0x8009000D, {}};
            BIGNUM* n = nullptr;
            EVP_PKEY_get_bn_param(m_leaf.key.pkey, "n", &n);
            std::vector<uint8_t> modulus(BN_num_bytes(n));
            BN_bn2bin(n, modulus.data());
            std::vector<uint8_t> out = U32s({ReadU32(in.data.data() + 4), static_cast<uint32_t>(BN_num_bits(n)), 65537});
            out.insert(out.end(), modulus.begin(), modulus.end());
            BN_free(n);
            return {0, 0, out};
        }
        case 0x2032: return {0, 0, m_leaf.Der()};
        case 0x2024: {
            // The raw private operation on the block as given.
            std::vector<uint8_t> block(in.data.begin() + 8, in.data.end());
            EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(m_leaf.key.pkey, nullptr);
            size_t length = block.size();
            std::vector<uint8_t> out(length);
            const bool ok = EVP_PKEY_sign_init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) > 0 &&
                            EVP_PKEY_sign(ctx, out.data(), &length, block.data(), block.size()) > 0;
            EVP_PKEY_CTX_free(ctx);
            if (!ok) return {0, 0x80090006, {}};
            out.resize(length);
            return {0, 0, out};
        }
        default: return {0, 0x80090029, {}};
        }
    }

private:
    const TestCert& m_leaf;
};

TestCert& AliceLeaf() {
    static TestCert leaf = [] {
        LeafSpec spec;
        spec.serial = 0x7101;
        spec.san = UpnSan("alice@corp.example");
        return SharedPki().MakeLeaf(spec);
    }();
    return leaf;
}

const std::u16string kPath = u"\\\\B\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\alice";

TEST(CspRelay, TheKeyProofOfABluetoothPhoneRunsThroughTheServicesStreamChannel) {
    PkiWorld w;
    SoftToken token(AliceLeaf());
    FakeStreamServer server([&](const Inner& in) { return token(in); });
    posix::PosixCspStandIn csp(w.tp.Root() + "/var/lib/corvane/csp", server.port);
    w.platform.cspContainers = &csp;
    CDeviceKeyProof proof(w.platform, w.crls);
    EXPECT_EQ(proof.VerifyDeviceKey(kPath, 1, u"ALICE@corp.example", nullptr, 0), 0u);

    const std::vector<Inner> seen = server.Received();
    ASSERT_FALSE(seen.empty());
    std::vector<uint16_t> codes;
    for (const Inner& in : seen) {
        EXPECT_EQ(in.deviceId, kDevice);
        codes.push_back(in.code);
    }
    EXPECT_EQ(codes.front(), 0x2003);
    EXPECT_EQ(seen.front().data, std::vector<uint8_t>({'a', 'l', 'i', 'c', 'e', 0}));
    EXPECT_NE(std::find(codes.begin(), codes.end(), 0x2032), codes.end());
    ASSERT_EQ(codes.back(), 0x2024);
    // The block sent to be signed: the handle, the key spec, then 00 01 FF.. 00 and the 20 bytes.
    const std::vector<uint8_t>& sign = seen.back().data;
    const size_t k = sign.size() - 8;
    ASSERT_GE(k, 128u);
    EXPECT_EQ(ReadU32(sign.data()), kHandle);
    EXPECT_EQ(ReadU32(sign.data() + 4), 1u);
    EXPECT_EQ(sign[8], 0x00);
    EXPECT_EQ(sign[9], 0x01);
    EXPECT_EQ(sign[8 + k - 21], 0x00);
    for (size_t i = 10; i < 8 + k - 21; ++i) ASSERT_EQ(sign[i], 0xFF) << i;

    // The certificate read as the remote session operations do it.
    std::vector<uint8_t> cert;
    EXPECT_EQ(ReadContainerCertificate(csp, kPath, 1, cert), 0u);
    EXPECT_EQ(cert, AliceLeaf().Der());
}

TEST(CspRelay, FailuresOfTheServiceAndOfThePhoneGiveTheirErrors) {
    PkiWorld w;
    SoftToken token(AliceLeaf());
    const struct {
        const char* label;
        uint16_t failOn;   // the sub-operation answered badly
        Answer answer;
        int step;          // 1 acquire, 2 key, 3 certificate, 4 signature
        uint32_t error;
    } cases[] = {
        {"phone not connected", 0x2003, {0xA003, 1167, {}}, 1, 1167},
        {"container not on the phone", 0x2003, {0, 0x80090016, {}}, 1, 0x80090016},
        {"reply with another code", 0x2003, {0xA002, 0, U32s({kHandle})}, 1, 0x80090005},
        {"handle reply too short", 0x2003, {0, 0, {1, 2}}, 1, 0x80090005},
        {"service refuses the request", 0x2003, {0xD101, 0x80090004, {}}, 1, 0x80090004},
        {"no such key", 0x2022, {0, 0, U32s({1, 0, 0})}, 2, 0x8009000D},
        {"public key reply of the wrong size", 0x2022, {0, 0, U32s({1, 1024, 65537})}, 2, 0x80090005},
        {"no certificate", 0x2032, {0, 0, {}}, 3, 0x80090011},
        {"signature of the wrong size", 0x2024, {0, 0, std::vector<uint8_t>(127, 7)}, 4, 0x80090005},
        {"phone refuses to sign", 0x2024, {0, 0x80090006, {}}, 4, 0x80090006},
    };
    for (const auto& c : cases) {
        FakeStreamServer server([&](const Inner& in) { return in.code == c.failOn ? c.answer : token(in); });
        posix::PosixCspStandIn csp(w.tp.Root() + "/var/lib/corvane/csp", server.port);
        CryptProvHandle prov = 0;
        uint32_t rc = csp.AcquireContext(prov, kPath, kCompanionCspProvider, kProvRsaFull, kCryptSilent);
        if (c.step == 1) {
            EXPECT_EQ(rc, c.error) << c.label;
            EXPECT_EQ(prov, 0u) << c.label;
            continue;
        }
        ASSERT_EQ(rc, 0u) << c.label;
        CryptKeyHandle key = 0;
        rc = csp.GetUserKey(prov, 1, key);
        if (c.step == 2) {
            EXPECT_EQ(rc, c.error) << c.label;
        } else {
            ASSERT_EQ(rc, 0u) << c.label;
            std::vector<uint8_t> cert;
            rc = csp.GetKeyParam(key, kKpCertificate, cert);
            if (c.step == 3) {
                EXPECT_EQ(rc, c.error) << c.label;
            } else {
                CryptHashHandle hash = 0;
                ASSERT_EQ(csp.CreateHash(prov, kCalgSha1, hash), 0u);
                const std::vector<uint8_t> value(20, 0x5A);
                ASSERT_EQ(csp.SetHashParam(hash, kHpHashVal, value.data()), 0u);
                std::vector<uint8_t> signature;
                EXPECT_EQ(csp.SignHash(hash, 1, kCryptNoHashOid, signature), c.error) << c.label;
                EXPECT_TRUE(signature.empty()) << c.label;
                csp.DestroyHash(hash);
            }
            csp.DestroyKey(key);
        }
        csp.ReleaseContext(prov);
    }
}

TEST(CspRelay, UnreachableServiceAndBadPathsAreRefusedBeforeAnyExchange) {
    PkiWorld w;
    uint16_t closedPort = 0;
    {
        FakeStreamServer server([](const Inner&) { return Answer {}; });
        closedPort = server.port;
    }
    posix::PosixCspStandIn csp(w.tp.Root() + "/var/lib/corvane/csp", closedPort);
    const struct {
        const char* label;
        std::u16string path;
        uint32_t error;
    } cases[] = {
        {"service not listening", kPath, CspError::NteProviderDllFail},
        {"no container part", u"\\\\B\\{6B29FC40-CA47-1067-B31D-00DD010662DA}", CspError::NteBadKeyset},
        {"empty device id", u"\\\\B\\\\alice", CspError::NteBadKeyset},
        {"device id longer than 40 bytes", u"\\\\B\\" + std::u16string(41, u'x') + u"\\alice", CspError::NteBadKeyset},
        {"container name longer than 255 bytes", u"\\\\B\\id\\" + std::u16string(256, u'n'), CspError::NteBadKeyset},
    };
    for (const auto& c : cases) {
        CryptProvHandle prov = 0;
        EXPECT_EQ(csp.AcquireContext(prov, c.path, kCompanionCspProvider, kProvRsaFull, kCryptSilent), c.error)
            << c.label;
        EXPECT_EQ(prov, 0u) << c.label;
    }
}

}  // namespace
}  // namespace corvane::test
