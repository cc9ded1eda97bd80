#include "phone_pki.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/posix/state_root.h"
#include "soft_token.h"

namespace corvane::phone {

namespace {

constexpr int kKeyBits = 2048;
constexpr long kCaDays = 3650;
constexpr long kLeafDays = 825;
constexpr const char* kCaFileName = "corvane-phone-ca.pem";

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

std::string Pem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    std::string out;
    if (bio && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) > 0) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        out.assign(data, static_cast<size_t>(n));
    }
    BIO_free(bio);
    return out;
}

std::string Pem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    std::string out;
    if (bio && PEM_write_bio_X509(bio, cert) > 0) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        out.assign(data, static_cast<size_t>(n));
    }
    BIO_free(bio);
    return out;
}

PkeyPtr ReadKey(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return PkeyPtr(key);
}

X509Ptr ReadCert(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return X509Ptr(cert);
}

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A certificate of `key` for `subject`, signed by `signer` (itself when `issuer` is null).
X509Ptr NewCertificate(EVP_PKEY* key, const std::string& subject, X509* issuer, EVP_PKEY* signer, long days) {
    X509Ptr cert(X509_new());
    if (!cert) return nullptr;
    // A random positive 64-bit serial from the OS-seeded generator.
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
    serial[0] &= 0x7F;
    serial[0] |= 0x01;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    X509_NAME* name = X509_NAME_new();
    const bool ok = serialSet && name && X509_set_version(cert.get(), 2) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                               reinterpret_cast<const unsigned char*>(subject.c_str()), -1, -1, 0) == 1 &&
                    X509_set_subject_name(cert.get(), name) == 1 &&
                    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600) != nullptr &&
                    X509_set_pubkey(cert.get(), key) == 1;
    X509_NAME_free(name);
    if (!ok) return nullptr;
    return cert;
}

bool WriteText(const std::string& path, const std::string& text, unsigned mode) {
    return !text.empty() && posix::WriteFileAtomic(path, text.data(), text.size(), mode) == 0;
}

// The test CA under <root>/var/lib/corvane-phone/ca, made on first use; installed every time as
// a trusted root and an NT authentication CA.
bool LoadOrMakeCa(const std::string& root, PkeyPtr& caKey, X509Ptr& caCert, std::string& error) {
    const posix::StateRoot state = posix::StateRoot::At(root);
    const std::string dir = root + "/var/lib/corvane-phone/ca";
    caKey = ReadKey(dir + "/ca.key");
    caCert = ReadCert(dir + "/ca.pem");
    if (!caKey || !caCert) {
        caKey.reset(EVP_RSA_gen(kKeyBits));
        if (!caKey) return (error = "no RSA key for the test CA", false);
        caCert = NewCertificate(caKey.get(), "Corvane Phone Test CA", nullptr, caKey.get(), kCaDays);
        if (!caCert || !AddExtension(caCert.get(), caCert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
            !AddExtension(caCert.get(), caCert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
            !AddExtension(caCert.get(), caCert.get(), NID_subject_key_identifier, "hash") ||
            X509_sign(caCert.get(), caKey.get(), EVP_sha256()) <= 0) {
            return (error = "cannot make the test CA", false);
        }
        if (posix::MakeDirectories(dir, 0700) != 0 || !WriteText(dir + "/ca.key", Pem(caKey.get()), 0600) ||
            !WriteText(dir + "/ca.pem", Pem(caCert.get()), 0644)) {
            return (error = "cannot write the test CA under " + dir, false);
        }
    }
    const std::string pem = Pem(caCert.get());
    for (const std::string& trustDir : {state.TrustDir(), state.NtAuthDir()}) {
        if (posix::MakeDirectories(trustDir) != 0 || !WriteText(trustDir + "/" + kCaFileName, pem, 0644)) {
            return (error = "cannot trust the test CA in " + trustDir, false);
        }
    }
    return true;
}

}  // namespace

bool MakePairedContainer(const std::string& root, const std::string& id, const std::string& upn,
                         const std::string& container, std::string& error) {
    const std::string phoneDir = PhoneDir(root, id);
    if (phoneDir.empty()) return (error = "the phone ID cannot name a folder", false);
    if (!IsContainerName(container)) return (error = "the container name must be 1 to 255 bytes without / or \\", false);
    const size_t at = upn.find('@');
    if (at == 0 || at == std::string::npos || at + 1 == upn.size() || upn.find_first_of(",;\n\r") != std::string::npos) {
        return (error = "the user must be USER@DOMAIN", false);
    }
    PkeyPtr caKey;
    X509Ptr caCert;
    if (!LoadOrMakeCa(root, caKey, caCert, error)) {
        ERR_clear_error();
        return false;
    }
    // The key exchange key; OpenSSL draws it from its generator, seeded by the OS.
    PkeyPtr key(EVP_RSA_gen(kKeyBits));
    X509Ptr cert = key ? NewCertificate(key.get(), upn.substr(0, at), caCert.get(), caKey.get(), kLeafDays) : nullptr;
    if (!cert || !AddExtension(cert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !AddExtension(cert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
        !AddExtension(cert.get(), caCert.get(), NID_ext_key_usage, "clientAuth") ||
        !AddExtension(cert.get(), caCert.get(), NID_subject_alt_name, "otherName:1.3.6.1.4.1.311.20.2.3;UTF8:" + upn) ||
        !AddExtension(cert.get(), caCert.get(), NID_authority_key_identifier, "keyid:always") ||
        X509_sign(cert.get(), caKey.get(), EVP_sha256()) <= 0) {
        ERR_clear_error();
        return (error = "cannot make the container's key and certificate", false);
    }
    const std::string tokenDir = phoneDir + "/token";
    const std::string folder = tokenDir + "/" + container;
    // A container paired again keeps its handle; a new one takes the next.
    const uint32_t handle = SoftToken(tokenDir).HandleFor(container);
    if (posix::MakeDirectories(folder, 0700) != 0 || !WriteText(folder + "/key.pem", Pem(key.get()), 0600) ||
        !WriteText(folder + "/cert.pem", Pem(cert.get()), 0644) ||
        !WriteText(folder + "/handle", std::to_string(handle) + "\n", 0644)) {
        return (error = "cannot write the container under " + folder, false);
    }
    // The first container paired becomes the default one.
    struct stat st {};
    if (stat((tokenDir + "/default").c_str(), &st) != 0 && !WriteText(tokenDir + "/default", container + "\n", 0644)) {
        return (error = "cannot write " + tokenDir + "/default", false);
    }
    return true;
}

}  // namespace corvane::phone
