#include "soft_token.h"

#include <dirent.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "wire/byte_order.h"

namespace corvane::phone {

namespace {

constexpr uint16_t kContainerByIndex = 0x2002;
constexpr uint16_t kContainerByName = 0x2003;
constexpr uint16_t kLoginState = 0x2011;
constexpr uint16_t kLogin = 0x2012;
constexpr uint16_t kPublicKey = 0x2022;
constexpr uint16_t kPrivateRaw = 0x2024;
constexpr uint16_t kPublicRaw = 0x2025;
constexpr uint16_t kReadCertificate = 0x2032;
constexpr uint16_t kTokenInfo = 0x2041;
constexpr uint32_t kAtKeyExchange = 1;
constexpr uint32_t kAtSignature = 2;
constexpr uint16_t kPinInfo = 32;  // the longest PIN the token would take
constexpr size_t kMaxModulusBytes = 2048;
// Opaque to the computer, which stores and replays it unchanged.
constexpr uint8_t kTokenInfoBlock[16] = {'C', 'V', 'P', 'H', 'S', 'O', 'F', 'T', 1, 0, 0, 0, 0, 0, 0, 0};

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

TokenAnswer Error(uint32_t status) { return TokenAnswer {status, {}}; }

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PkeyPtr ReadKey(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    if (!bio) return nullptr;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ERR_clear_error();
    return PkeyPtr(key);
}

bool ModulusBytes(EVP_PKEY* key, size_t& bytes) {
    const int bits = EVP_PKEY_get_bits(key);
    if (bits <= 0) return false;
    bytes = (static_cast<size_t>(bits) + 7) / 8;
    return bytes <= kMaxModulusBytes;
}

// A NUL-terminated text that fills the data exactly, with no NUL inside it.
bool ExactText(const uint8_t* data, size_t size, std::string& text) {
    if (size == 0 || data[size - 1] != 0) return false;
    if (std::memchr(data, 0, size) != data + size - 1) return false;
    text.assign(reinterpret_cast<const char*>(data), size - 1);
    return true;
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    WriteU32(b, v);
    out.insert(out.end(), b, b + 4);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string PhoneDir(const std::string& root, const std::string& id) {
    if (!IsContainerName(id)) return {};
    return root + "/var/lib/corvane-phone/" + id;
}

bool IsContainerName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

SoftToken::SoftToken(std::string tokenDir) : m_dir(std::move(tokenDir)) {}

std::vector<SoftToken::Container> SoftToken::Containers() const {
    std::vector<Container> containers;
    DIR* dir = opendir(m_dir.c_str());
    if (!dir) return containers;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsContainerName(name) || !IsDirectory(m_dir + "/" + name)) continue;
        std::ifstream in(m_dir + "/" + name + "/handle");
        unsigned long handle = 0;
        if (in >> handle && handle > 0 && handle <= 0xFFFFFFFFul) {
            containers.push_back({static_cast<uint32_t>(handle), name});
        }
    }
    closedir(dir);
    std::sort(containers.begin(), containers.end(),
              [](const Container& a, const Container& b) { return a.handle < b.handle; });
    return containers;
}

uint32_t SoftToken::HandleFor(const std::string& name) const {
    uint32_t highest = 0;
    for (const Container& c : Containers()) {
        if (c.name == name) return c.handle;
        highest = std::max(highest, c.handle);
    }
    return highest + 1;
}

std::string SoftToken::DefaultContainer() const {
    const std::vector<Container> containers = Containers();
    if (containers.empty()) return {};
    std::ifstream in(m_dir + "/default");
    std::string chosen;
    std::getline(in, chosen);
    for (const Container& c : containers) {
        if (c.name == chosen) return c.name;
    }
    return containers.front().name;
}

TokenAnswer SoftToken::Answer(uint16_t code, const uint8_t* data, size_t size) const {
    switch (code) {
    case kContainerByIndex: return ContainerByIndex(data, size);
    case kContainerByName: return ContainerByName(data, size);
    case kLoginState:
    case kLogin: {
        // The soft token has no PIN of its own: it is always logged in, and any PIN is taken.
        std::string pin;
        if (code == kLoginState ? size != 0 : !ExactText(data, size, pin)) return Error(TokenStatus::NteBadData);
        TokenAnswer answer;
        answer.payload = {1, 0, static_cast<uint8_t>(kPinInfo & 0xFF), static_cast<uint8_t>(kPinInfo >> 8)};
        return answer;
    }
    case kPublicKey: return PublicKey(data, size);
    case kPrivateRaw: return RawOperation(data, size, true);
    case kPublicRaw: return RawOperation(data, size, false);
    case kReadCertificate: return Certificate(data, size);
    case kTokenInfo:
        if (size != 0) return Error(TokenStatus::NteBadData);
        return TokenAnswer {0, std::vector<uint8_t>(std::begin(kTokenInfoBlock), std::end(kTokenInfoBlock))};
    default:
        // Containers and keys are made at pairing time, never over the channel.
        return Error(TokenStatus::NteNotSupported);
    }
}

TokenAnswer SoftToken::ContainerByIndex(const uint8_t* data, size_t size) const {
    if (size != 4) return Error(TokenStatus::NteBadData);
    const uint32_t index = ReadU32(data);
    const std::vector<Container> containers = Containers();
    if (index >= containers.size()) return Error(TokenStatus::NoMoreItems);
    const Container& c = containers[index];
    TokenAnswer answer;
    AppendU32(answer.payload, c.handle);
    answer.payload.insert(answer.payload.end(), c.name.begin(), c.name.end());
    answer.payload.push_back(0);
    return answer;
}

TokenAnswer SoftToken::ContainerByName(const uint8_t* data, size_t size) const {
    std::string name;
    if (!ExactText(data, size, name)) return Error(TokenStatus::NteBadData);
    if (name.empty()) name = DefaultContainer();
    for (const Container& c : Containers()) {
        if (!name.empty() && EqualNoCase(c.name, name)) {
            // A phone answers with the handle alone.
            TokenAnswer answer;
            AppendU32(answer.payload, c.handle);
            return answer;
        }
    }
    return Error(TokenStatus::NteBadKeyset);
}

uint32_t SoftToken::KeyFolder(const uint8_t* data, std::string& folder) const {
    const uint32_t handle = ReadU32(data);
    const uint32_t keySpec = ReadU32(data + 4);
    if (keySpec != kAtKeyExchange && keySpec != kAtSignature) return TokenStatus::NteBadData;
    for (const Container& c : Containers()) {
        if (c.handle != handle) continue;
        // Every container holds a key exchange key only.
        if (keySpec != kAtKeyExchange) return TokenStatus::NteNoKey;
        folder = m_dir + "/" + c.name;
        return 0;
    }
    return TokenStatus::NteBadKeyset;
}

TokenAnswer SoftToken::PublicKey(const uint8_t* data, size_t size) const {
    if (size != 8) return Error(TokenStatus::NteBadData);
    std::string folder;
    if (const uint32_t rc = KeyFolder(data, folder)) return Error(rc);
    const PkeyPtr key = ReadKey(folder + "/key.pem");
    size_t bytes = 0;
    if (!key || !ModulusBytes(key.get(), bytes)) return Error(TokenStatus::NteNoKey);
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &e);
    const BnPtr modulus(n);
    const BnPtr exponent(e);
    ERR_clear_error();
    // The exponent travels as a u32.
    if (!modulus || !exponent || BN_num_bytes(exponent.get()) > 4) return Error(TokenStatus::NteFail);
    TokenAnswer answer;
    AppendU32(answer.payload, ReadU32(data + 4));
    AppendU32(answer.payload, static_cast<uint32_t>(BN_num_bits(modulus.get())));
    AppendU32(answer.payload, static_cast<uint32_t>(BN_get_word(exponent.get())));
    const size_t at = answer.payload.size();
    answer.payload.resize(at + bytes);
    if (BN_bn2binpad(modulus.get(), answer.payload.data() + at, static_cast<int>(bytes)) < 0) {
        return Error(TokenStatus::NteFail);
    }
    return answer;
}

TokenAnswer SoftToken::RawOperation(const uint8_t* data, size_t size, bool privateKey) const {
    if (size <= 8) return Error(TokenStatus::NteBadData);
    std::string folder;
    if (const uint32_t rc = KeyFolder(data, folder)) return Error(rc);
    const PkeyPtr key = ReadKey(folder + "/key.pem");
    size_t bytes = 0;
    if (!key || !ModulusBytes(key.get(), bytes)) return Error(TokenStatus::NteNoKey);
    // The block is exactly as long as the modulus, big-endian, and below it.
    if (size - 8 != bytes) return Error(TokenStatus::NteBadLen);
    const CtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    TokenAnswer answer;
    answer.payload.resize(bytes);
    size_t length = bytes;
    bool ok = ctx != nullptr;
    if (ok && privateKey) {
        ok = EVP_PKEY_decrypt_init(ctx.get()) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) > 0 &&
             EVP_PKEY_decrypt(ctx.get(), answer.payload.data(), &length, data + 8, bytes) > 0;
    } else if (ok) {
        ok = EVP_PKEY_encrypt_init(ctx.get()) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) > 0 &&
             EVP_PKEY_encrypt(ctx.get(), answer.payload.data(), &length, data + 8, bytes) > 0;
    }
    ERR_clear_error();
    if (!ok || length != bytes) return Error(TokenStatus::NteBadData);
    return answer;
}

TokenAnswer SoftToken::Certificate(const uint8_t* data, size_t size) const {
    if (size != 8) return Error(TokenStatus::NteBadData);
    std::string folder;
    if (const uint32_t rc = KeyFolder(data, folder)) return Error(rc);
    BIO* bio = BIO_new_file((folder + "/cert.pem").c_str(), "r");
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    TokenAnswer answer;
    unsigned char* der = nullptr;
    const int length = cert ? i2d_X509(cert, &der) : -1;
    if (length > 0) answer.payload.assign(der, der + length);
    OPENSSL_free(der);
    X509_free(cert);
    ERR_clear_error();
    if (answer.payload.empty()) return Error(TokenStatus::NteNotFound);
    return answer;
}

}  // namespace corvane::phone
