// The crypto library next to OpenSSL: RSA-2048 private (CRT), public and key generation (median
// of several), and triple-DES CBC, AES-128 CBC, SHA-1 and SHA-256 over 16 KiB. Both sides work on
// the same key and the same data. For AES without AES-NI on the OpenSSL side, run with
// OPENSSL_ia32cap="~0x200000200000000" (the library's AES is table driven either way).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/random.h>

#include <cstdint>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "crypto/rsa_blinding.h"

namespace {

using namespace corvane;

constexpr size_t kMessageBytes = 16 * 1024;

uint32_t OsRandom(uint8_t* buffer, size_t size) {
    while (size) {
        const ssize_t n = getrandom(buffer, size, 0);
        if (n <= 0) return 1;
        buffer += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> out(n);
    OsRandom(out.data(), n);
    return out;
}

// One 2048-bit key, in OpenSSL and in the library.
struct RsaFixture {
    RsaFixture() {
        key = EVP_RSA_gen(2048);
        unsigned char* der = nullptr;
        const int n = i2d_PrivateKey(key, &der);
        RsaImport(&handle, nullptr, RsaFormat::PrivateKey, der, static_cast<uint32_t>(n));
        OPENSSL_free(der);
        input = RandomBytes(256);
        input[0] &= 0x3F;  // below the modulus
    }
    EVP_PKEY* key = nullptr;
    RsaHandle handle = nullptr;
    std::vector<uint8_t> input;
};

RsaFixture& Rsa() {
    static RsaFixture fixture;
    return fixture;
}

void RsaRawOpenSsl(benchmark::State& state, bool usePrivate) {
    RsaFixture& f = Rsa();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key, nullptr);
    if (usePrivate) {
        EVP_PKEY_decrypt_init(ctx);
    } else {
        EVP_PKEY_encrypt_init(ctx);
    }
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    std::vector<uint8_t> out(256);
    for (auto _ : state) {
        size_t n = out.size();
        const int rc = usePrivate ? EVP_PKEY_decrypt(ctx, out.data(), &n, f.input.data(), f.input.size())
                                  : EVP_PKEY_encrypt(ctx, out.data(), &n, f.input.data(), f.input.size());
        if (rc != 1) state.SkipWithError("OpenSSL RSA failed");
        benchmark::DoNotOptimize(out.data());
    }
    EVP_PKEY_CTX_free(ctx);
}

void RsaPrivateCorvane(benchmark::State& state) {
    RsaFixture& f = Rsa();
    std::vector<uint8_t> out(256);
    for (auto _ : state) {
        if (RsaPrivate(f.handle, f.input.data(), 256, out.data())) state.SkipWithError("RsaPrivate failed");
        benchmark::DoNotOptimize(out.data());
    }
}

// The host key's form: blinded with a pair kept across operations, squared for each use and
// drawn afresh from the OS CSPRNG (getrandom, as the service's ISystem::GenRandom draws it) every
// CRsaBlinding::kUsesPerPair operations, so the occasional draw is part of the average.
void RsaPrivateBlindedCorvane(benchmark::State& state) {
    RsaFixture& f = Rsa();
    std::vector<uint8_t> out(256);
    const RandomSource osRandom = [](uint8_t* buffer, size_t size) {
        return getrandom(buffer, size, 0) == static_cast<ssize_t>(size) ? uint32_t {0} : uint32_t {1};
    };
    CRsaBlinding blinding;
    for (auto _ : state) {
        if (RsaPrivateBlinded(f.handle, f.input.data(), 256, out.data(), osRandom, blinding)) {
            state.SkipWithError("RsaPrivateBlinded failed");
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void RsaPublicCorvane(benchmark::State& state) {
    RsaFixture& f = Rsa();
    std::vector<uint8_t> out(256);
    for (auto _ : state) {
        if (RsaPublic(f.handle, f.input.data(), 256, out.data())) state.SkipWithError("RsaPublic failed");
        benchmark::DoNotOptimize(out.data());
    }
}

void RsaKeyGenCorvane(benchmark::State& state) {
    for (auto _ : state) {
        RsaHandle h = nullptr;
        if (RsaGenerate(&h, 2048, 65537, OsRandom)) state.SkipWithError("RsaGenerate failed");
        RsaDestroy(h);
    }
}

void RsaKeyGenOpenSsl(benchmark::State& state) {
    for (auto _ : state) {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        if (!key) state.SkipWithError("EVP_RSA_gen failed");
        EVP_PKEY_free(key);
    }
}

// CBC with PKCS#7 padding and a zero IV, encrypting a whole 16 KiB message per iteration.
void CbcCorvane(benchmark::State& state, uint32_t algorithm, size_t keyBytes) {
    const std::vector<uint8_t> key = RandomBytes(keyBytes), msg = RandomBytes(kMessageBytes);
    std::vector<uint8_t> out(kMessageBytes + 16);
    CipherHandle h = nullptr;
    CipherCreate(&h, algorithm, key.data(), static_cast<uint32_t>(key.size()));
    CipherReset(h);
    for (auto _ : state) {
        uint32_t n = static_cast<uint32_t>(out.size());
        uint32_t last = 16;
        if (CipherUpdate(h, msg.data(), kMessageBytes, out.data(), &n, true) ||
            CipherFinal(h, out.data() + n, &last)) {
            state.SkipWithError("cipher failed");
        }
        benchmark::DoNotOptimize(out.data());
    }
    CipherDestroy(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageBytes));
}

void CbcOpenSsl(benchmark::State& state, const char* name, size_t keyBytes) {
    const std::vector<uint8_t> key = RandomBytes(keyBytes), msg = RandomBytes(kMessageBytes);
    std::vector<uint8_t> out(kMessageBytes + 16);
    const unsigned char iv[16] = {};
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex2(ctx, cipher, key.data(), iv, nullptr);
    for (auto _ : state) {
        int n = 0, last = 0;
        if (EVP_EncryptInit_ex2(ctx, nullptr, nullptr, iv, nullptr) != 1 ||
            EVP_EncryptUpdate(ctx, out.data(), &n, msg.data(), static_cast<int>(kMessageBytes)) != 1 ||
            EVP_EncryptFinal_ex(ctx, out.data() + n, &last) != 1) {
            state.SkipWithError("OpenSSL cipher failed");
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageBytes));
}

void DigestCorvane(benchmark::State& state, uint32_t algorithm) {
    const std::vector<uint8_t> msg = RandomBytes(kMessageBytes);
    uint8_t digest[64];
    for (auto _ : state) {
        DigestHandle h = nullptr;
        DigestCreate(&h, algorithm);
        DigestUpdate(h, msg.data(), kMessageBytes);
        DigestFinal(h, digest);
        DigestDestroy(h);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageBytes));
}

void DigestOpenSsl(benchmark::State& state, const char* name) {
    const std::vector<uint8_t> msg = RandomBytes(kMessageBytes);
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        unsigned int n = 0;
        EVP_Digest(msg.data(), kMessageBytes, digest, &n, md, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_free(md);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageBytes));
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("RsaPrivate2048/corvane", RsaPrivateCorvane)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RsaPrivate2048/corvane-blinded", RsaPrivateBlindedCorvane)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RsaPrivate2048/openssl", RsaRawOpenSsl, true)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RsaPublic2048/corvane", RsaPublicCorvane)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RsaPublic2048/openssl", RsaRawOpenSsl, false)->Unit(benchmark::kMicrosecond);
    // Key generation time varies with where the primes happen to lie: the median of 15 runs.
    using Function = void (*)(benchmark::State&);
    const std::pair<const char*, Function> keyGeneration[] = {{"RsaKeyGen2048/corvane", RsaKeyGenCorvane},
                                                              {"RsaKeyGen2048/openssl", RsaKeyGenOpenSsl}};
    for (auto [name, fn] : keyGeneration) {
        benchmark::RegisterBenchmark(name, fn)
            ->Iterations(1)
            ->Repetitions(15)
            ->ReportAggregatesOnly(true)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("TripleDesCbc16K/corvane", CbcCorvane, CipherAlg::Des, size_t {16});
    benchmark::RegisterBenchmark("TripleDesCbc16K/openssl", CbcOpenSsl, "DES-EDE-CBC", size_t {16});
    benchmark::RegisterBenchmark("Aes128Cbc16K/corvane", CbcCorvane, CipherAlg::Aes, size_t {16});
    benchmark::RegisterBenchmark("Aes128Cbc16K/openssl", CbcOpenSsl, "AES-128-CBC", size_t {16});
    benchmark::RegisterBenchmark("Sha1_16K/corvane", DigestCorvane, DigestAlg::Sha1);
    benchmark::RegisterBenchmark("Sha1_16K/openssl", DigestOpenSsl, "SHA1");
    benchmark::RegisterBenchmark("Sha256_16K/corvane", DigestCorvane, DigestAlg::Sha256);
    benchmark::RegisterBenchmark("Sha256_16K/openssl", DigestOpenSsl, "SHA256");
    return true;
}();

}  // namespace
