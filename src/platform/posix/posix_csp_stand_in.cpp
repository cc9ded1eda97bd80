#include "platform/posix/posix_csp_stand_in.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/text.h"
#include "platform/types.h"

namespace corvane::posix {

namespace {
enum Kind { kContext = 1, kKey = 2, kHash = 3 };
constexpr uint32_t kNteBadHashState = 0x8009000B;  // NTE_BAD_HASH_STATE
constexpr uint32_t kNteNotFound = 0x80090011;      // NTE_NOT_FOUND
constexpr uint32_t kNteBadSignature = 0x80090006;  // NTE_BAD_SIGNATURE (the key cannot sign)
constexpr uint32_t kNteBadData = 0x80090005;     // NTE_BAD_DATA: a reply that does not fit
constexpr uint16_t kFindContainerByName = 0x2003;
constexpr uint16_t kGetPublicKey = 0x2022;
constexpr uint16_t kRsaPrivate = 0x2024;
constexpr uint16_t kReadCertificate = 0x2032;
constexpr size_t kMaxContainerName = 255;
constexpr size_t kMaxModulusBytes = 2048;
constexpr uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                       0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};

// A device id or container name from the network becomes one folder name, never a path.
bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t ReadLe32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

EVP_PKEY* ReadKey(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    if (!bio) return nullptr;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ERR_clear_error();
    return key;
}

// The certificate file as DER, whether it holds PEM or DER.
std::vector<uint8_t> ReadCertificate(const std::string& path) {
    std::vector<uint8_t> der;
    BIO* bio = BIO_new_file(path.c_str(), "r");
    if (!bio) return der;
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (!x) {
        (void)BIO_reset(bio);
        x = d2i_X509_bio(bio, nullptr);
    }
    BIO_free(bio);
    if (x) {
        unsigned char* out = nullptr;
        const int n = i2d_X509(x, &out);
        if (n > 0) der.assign(out, out + n);
        OPENSSL_free(out);
        X509_free(x);
    }
    ERR_clear_error();
    return der;
}
}  // namespace

struct PosixCspStandIn::Object {
    int kind = 0;
    std::string folder;        // context and key: the container's folder
    EVP_PKEY* key = nullptr;   // key: the loaded key
    uintptr_t context = 0;     // hash: its context
    std::vector<uint8_t> hashValue;
    // A Bluetooth phone's container: the phone's device id and its container handle.
    bool phone = false;
    std::string deviceId;
    uint32_t containerHandle = 0;
    uint32_t keySpec = 0;      // key: its key spec
    ~Object() { EVP_PKEY_free(key); }
};

PosixCspStandIn::PosixCspStandIn(std::string storeDir, uint16_t relayPort)
    : m_storeDir(std::move(storeDir)), m_relay(relayPort) {}
PosixCspStandIn::~PosixCspStandIn() = default;

std::string PosixCspStandIn::ContainerFolder(std::u16string_view container) const {
    constexpr std::u16string_view kNetworkPrefix = u"\\\\?\\";
    if (container.substr(0, kNetworkPrefix.size()) != kNetworkPrefix) return {};
    const std::u16string_view rest = container.substr(kNetworkPrefix.size());
    const size_t split = rest.find(u'\\');
    if (split == std::u16string_view::npos) return {};
    const std::string id = Utf16ToUtf8(rest.substr(0, split));
    const std::string name = Utf16ToUtf8(rest.substr(split + 1));
    if (!IsPlainName(id) || !IsPlainName(name)) return {};
    return m_storeDir + "/" + id + "/" + name;
}

uintptr_t PosixCspStandIn::Add(std::unique_ptr<Object> object) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uintptr_t handle = m_nextHandle++;
    m_objects.emplace(handle, std::move(object));
    return handle;
}

PosixCspStandIn::Object* PosixCspStandIn::Find(uintptr_t handle, int kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(handle);
    return it != m_objects.end() && it->second->kind == kind ? it->second.get() : nullptr;
}

uint32_t PosixCspStandIn::AcquireContext(CryptProvHandle& prov, std::u16string_view container,
                                         std::u16string_view provider, uint32_t providerType, uint32_t) {
    prov = 0;
    if (provider != kCompanionCspProvider) return kNteKeysetNotDef;
    if (providerType != kProvRsaFull) return CspError::NteProvTypeNotDef;
    // Bluetooth phones are reached through the service, which passes the token commands on.
    if (container.substr(0, 4) == u"\\\\B\\") return AcquirePhoneContainer(prov, container.substr(4));
    const std::string folder = ContainerFolder(container);
    if (folder.empty() || !IsFolder(folder)) return CspError::NteBadKeyset;
    auto object = std::make_unique<Object>();
    object->kind = kContext;
    object->folder = folder;
    prov = Add(std::move(object));
    return 0;
}

uint32_t PosixCspStandIn::AcquirePhoneContainer(CryptProvHandle& prov, std::u16string_view rest) {
    const size_t split = rest.find(u'\\');
    if (split == std::u16string_view::npos) return CspError::NteBadKeyset;
    const std::string id = Utf16ToUtf8(rest.substr(0, split));
    const std::string name = Utf16ToUtf8(rest.substr(split + 1));
    // The id fills at most the request's 40-byte field; an empty name asks for the default container.
    if (id.empty() || id.size() > 40 || name.size() > kMaxContainerName) return CspError::NteBadKeyset;
    if (name.find('\0') != std::string::npos) return CspError::NteBadKeyset;
    std::vector<uint8_t> request(name.begin(), name.end());
    request.push_back(0);
    std::vector<uint8_t> reply;
    if (uint32_t rc = m_relay.Exchange(id, kFindContainerByName, request, reply)) return rc;
    // A phone answers with the handle alone; the handle followed by the name is taken too.
    if (reply.size() < 4 || (reply.size() > 4 && reply.back() != 0)) return kNteBadData;
    auto object = std::make_unique<Object>();
    object->kind = kContext;
    object->phone = true;
    object->deviceId = id;
    object->containerHandle = ReadLe32(reply.data());
    prov = Add(std::move(object));
    return 0;
}

uint32_t PosixCspStandIn::PhoneKeyBits(const Object& context, uint32_t keySpec, uint32_t& bits) {
    bits = 0;
    std::vector<uint8_t> request;
    AppendU32(request, context.containerHandle);
    AppendU32(request, keySpec);
    std::vector<uint8_t> reply;
    if (uint32_t rc = m_relay.Exchange(context.deviceId, kGetPublicKey, request, reply)) return rc;
    // u32 key spec, u32 bits, u32 exponent, then the modulus.
    if (reply.size() < 12) return kNteBadData;
    const uint32_t replyBits = ReadLe32(reply.data() + 4);
    if (replyBits == 0) return CspError::NteNoKey;
    const size_t modulusBytes = (static_cast<size_t>(replyBits) + 7) / 8;
    if (modulusBytes > kMaxModulusBytes || reply.size() != 12 + modulusBytes) return kNteBadData;
    bits = replyBits;
    return 0;
}

uint32_t PosixCspStandIn::PhoneSign(const Object& context, uint32_t keySpec, const std::vector<uint8_t>& data,
                                    std::vector<uint8_t>& signature) {
    uint32_t bits = 0;
    if (uint32_t rc = PhoneKeyBits(context, keySpec, bits)) return rc;
    // The PKCS#1 v1.5 type-1 block: 00 01, at least eight FF, 00, the data.
    const size_t k = (static_cast<size_t>(bits) + 7) / 8;
    if (k < data.size() + 11) return kNteBadSignature;
    std::vector<uint8_t> request;
    AppendU32(request, context.containerHandle);
    AppendU32(request, keySpec);
    const size_t blockAt = request.size();
    request.resize(blockAt + k, 0xFF);
    request[blockAt] = 0x00;
    request[blockAt + 1] = 0x01;
    request[blockAt + k - data.size() - 1] = 0x00;
    std::copy(data.begin(), data.end(), request.begin() + static_cast<long>(blockAt + k - data.size()));
    std::vector<uint8_t> reply;
    if (uint32_t rc = m_relay.Exchange(context.deviceId, kRsaPrivate, request, reply)) return rc;
    if (reply.size() != k) return kNteBadData;
    // The phone answers big-endian; CryptoAPI hands signatures out least significant byte first.
    signature.assign(reply.rbegin(), reply.rend());
    return 0;
}

uint32_t PosixCspStandIn::GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) {
    key = 0;
    Object* context = Find(prov, kContext);
    if (!context) return CspError::NteBadUid;
    if (keySpec != kAtKeyExchange && keySpec != kAtSignature) return CspError::NteBadType;
    if (context->phone) {
        // The key exists when the phone tells its public part.
        uint32_t bits = 0;
        if (uint32_t rc = PhoneKeyBits(*context, keySpec, bits)) return rc;
        auto object = std::make_unique<Object>();
        object->kind = kKey;
        object->phone = true;
        object->deviceId = context->deviceId;
        object->containerHandle = context->containerHandle;
        object->keySpec = keySpec;
        key = Add(std::move(object));
        return 0;
    }
    EVP_PKEY* pkey = ReadKey(context->folder + "/key.pem");
    if (!pkey) return CspError::NteNoKey;
    auto object = std::make_unique<Object>();
    object->kind = kKey;
    object->folder = context->folder;
    object->key = pkey;
    key = Add(std::move(object));
    return 0;
}

uint32_t PosixCspStandIn::GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) {
    value.clear();
    Object* object = Find(key, kKey);
    if (!object) return CspError::NteBadUid;
    if (param != kKpCertificate) return CspError::NteBadType;
    if (object->phone) {
        std::vector<uint8_t> request;
        AppendU32(request, object->containerHandle);
        AppendU32(request, object->keySpec);
        if (uint32_t rc = m_relay.Exchange(object->deviceId, kReadCertificate, request, value)) return rc;
        return value.empty() ? kNteNotFound : 0;
    }
    value = ReadCertificate(object->folder + "/cert.pem");
    return value.empty() ? kNteNotFound : 0;
}

uint32_t PosixCspStandIn::SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) {
    if (!Find(key, kKey)) return CspError::NteBadUid;
    // The keys of the store need no PIN: any PIN is taken.
    if (param != kKpKeyExchangePin || !value) return CspError::NteBadType;
    return 0;
}

uint32_t PosixCspStandIn::CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) {
    hash = 0;
    if (!Find(prov, kContext)) return CspError::NteBadUid;
    if (algorithm != kCalgSha1) return CspError::NteBadAlgid;
    auto object = std::make_unique<Object>();
    object->kind = kHash;
    object->context = prov;
    hash = Add(std::move(object));
    return 0;
}

uint32_t PosixCspStandIn::SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) {
    Object* object = Find(hash, kHash);
    if (!object) return CspError::NteBadUid;
    if (param != kHpHashVal || !value) return CspError::NteBadType;
    object->hashValue.assign(value, value + 20);
    return 0;
}

uint32_t PosixCspStandIn::SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags,
                                   std::vector<uint8_t>& signature) {
    signature.clear();
    std::string folder;
    std::vector<uint8_t> data;
    Object phoneContext;
    {
        Object* object = Find(hash, kHash);
        if (!object) return CspError::NteBadUid;
        if (object->hashValue.empty()) return kNteBadHashState;
        Object* context = Find(object->context, kContext);
        if (!context) return CspError::NteBadUid;
        folder = context->folder;
        if (context->phone) {
            phoneContext.phone = true;
            phoneContext.deviceId = context->deviceId;
            phoneContext.containerHandle = context->containerHandle;
        }
        if (!(flags & kCryptNoHashOid)) data.assign(std::begin(kSha1DigestInfo), std::end(kSha1DigestInfo));
        data.insert(data.end(), object->hashValue.begin(), object->hashValue.end());
    }
    if (keySpec != kAtKeyExchange && keySpec != kAtSignature) return CspError::NteBadType;
    if (phoneContext.phone) return PhoneSign(phoneContext, keySpec, data, signature);
    EVP_PKEY* pkey = ReadKey(folder + "/key.pem");
    if (!pkey) return CspError::NteNoKey;
    // The private operation on a PKCS#1 v1.5 type-1 block around the bare data.
    uint32_t result = kNteBadSignature;
    if (EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr)) {
        size_t length = 0;
        if (EVP_PKEY_sign_init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
            EVP_PKEY_sign(ctx, nullptr, &length, data.data(), data.size()) > 0) {
            signature.resize(length);
            if (EVP_PKEY_sign(ctx, signature.data(), &length, data.data(), data.size()) > 0) {
                signature.resize(length);
                // CryptoAPI hands signatures out least significant byte first.
                std::reverse(signature.begin(), signature.end());
                result = 0;
            } else {
                signature.clear();
            }
        }
        EVP_PKEY_CTX_free(ctx);
    }
    EVP_PKEY_free(pkey);
    ERR_clear_error();
    return result;
}

uint32_t PosixCspStandIn::DestroyHash(CryptHashHandle hash) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(hash);
    if (it == m_objects.end() || it->second->kind != kHash) return CspError::NteBadUid;
    m_objects.erase(it);
    return 0;
}

uint32_t PosixCspStandIn::DestroyKey(CryptKeyHandle key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(key);
    if (it == m_objects.end() || it->second->kind != kKey) return CspError::NteBadUid;
    m_objects.erase(it);
    return 0;
}

uint32_t PosixCspStandIn::ReleaseContext(CryptProvHandle prov) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_objects.find(prov);
    if (it == m_objects.end() || it->second->kind != kContext) return CspError::NteBadUid;
    m_objects.erase(it);
    return 0;
}

}  // namespace corvane::posix
