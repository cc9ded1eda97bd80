#include "pki/test_pki.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace corvane::test {

namespace {

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

X509_NAME* ParseName(const std::string& text) {
    X509_NAME* name = X509_NAME_new();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(',', pos);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(pos, end - pos);
        const size_t eq = part.find('=');
        Check(eq != std::string::npos, "name");
        Check(X509_NAME_add_entry_by_txt(name, part.substr(0, eq).c_str(), MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(part.c_str() + eq + 1), -1, -1, 0),
              "name entry");
        pos = end + 1;
    }
    return name;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

std::vector<uint8_t> Bytes(const unsigned char* p, int n) { return std::vector<uint8_t>(p, p + n); }

TestCert MakeCert(const std::string& subject, long serial, const TestCert* issuer, bool isCa, TestKey key,
                  const std::string& notBefore = "20200101000000Z", const std::string& notAfter = "20400101000000Z") {
    TestCert c;
    c.key = std::move(key);
    c.x509 = X509_new();
    X509_set_version(c.x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c.x509), serial);
    X509_NAME* name = ParseName(subject);
    X509_set_subject_name(c.x509, name);
    X509_set_issuer_name(c.x509, issuer ? X509_get_subject_name(issuer->x509) : name);
    X509_NAME_free(name);
    Check(ASN1_TIME_set_string(X509_getm_notBefore(c.x509), notBefore.c_str()), "notBefore");
    Check(ASN1_TIME_set_string(X509_getm_notAfter(c.x509), notAfter.c_str()), "notAfter");
    X509_set_pubkey(c.x509, c.key.pkey);
    X509* issuerCert = issuer ? issuer->x509 : c.x509;
    if (isCa) {
        AddExtension(c.x509, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(c.x509, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
    }
    AddExtension(c.x509, issuerCert, NID_subject_key_identifier, "hash");
    if (issuer) AddExtension(c.x509, issuerCert, NID_authority_key_identifier, "keyid:always");
    return c;
}

void Sign(TestCert& c, const TestKey& signer) { Check(X509_sign(c.x509, signer.pkey, EVP_sha256()) > 0, "sign"); }

}  // namespace

TestKey::TestKey(int bits) {
    pkey = EVP_RSA_gen(static_cast<unsigned>(bits));
    Check(pkey != nullptr, "key");
}
TestKey TestKey::P256() {
    TestKey key;
    key.pkey = EVP_EC_gen("P-256");
    Check(key.pkey != nullptr, "P-256 key");
    return key;
}
TestKey::~TestKey() { EVP_PKEY_free(pkey); }
TestKey::TestKey(TestKey&& other) noexcept : pkey(other.pkey) { other.pkey = nullptr; }
TestKey& TestKey::operator=(TestKey&& other) noexcept {
    std::swap(pkey, other.pkey);
    return *this;
}
std::string TestKey::Pem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, pkey, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    return pem;
}

TestCert::~TestCert() { X509_free(x509); }
TestCert::TestCert(TestCert&& other) noexcept : x509(other.x509), key(std::move(other.key)) { other.x509 = nullptr; }
TestCert& TestCert::operator=(TestCert&& other) noexcept {
    std::swap(x509, other.x509);
    key = std::move(other.key);
    return *this;
}
std::vector<uint8_t> TestCert::Der() const {
    unsigned char* out = nullptr;
    const int n = i2d_X509(x509, &out);
    std::vector<uint8_t> der = Bytes(out, n);
    OPENSSL_free(out);
    return der;
}
std::string TestCert::Pem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, x509);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    return pem;
}

std::string UpnSan(const std::string& upn) { return "otherName:1.3.6.1.4.1.311.20.2.3;UTF8:" + upn; }

TestPki::TestPki() {
    root = MakeCert("CN=Corvane Test Root,O=Corvane Tests", 1, nullptr, true, TestKey(2048));
    Sign(root, root.key);
    ca = MakeCert("CN=Corvane Test Issuing CA,O=Corvane Tests", 2, &root, true, TestKey(2048));
    Sign(ca, root.key);
    otherCa = MakeCert("CN=Corvane Other CA,O=Corvane Tests", 3, &root, true, TestKey(1024));
    Sign(otherCa, root.key);
    strangerRoot = MakeCert("CN=Stranger Root", 4, nullptr, true, TestKey(1024));
    Sign(strangerRoot, strangerRoot.key);
    pssCa = MakeCert("CN=Corvane PSS CA,O=Corvane Tests", 5, &root, true, TestKey(1024));
    Sign(pssCa, root.key);
    p256Ca = MakeCert("CN=Corvane P-256 CA,O=Corvane Tests", 6, &root, true, TestKey::P256());
    Sign(p256Ca, root.key);
    oddRsaCa = MakeCert("CN=Corvane Odd Key CA,O=Corvane Tests", 7, &root, true, TestKey(1025));
    Sign(oddRsaCa, root.key);
}

TestCert TestPki::MakeLeaf(const LeafSpec& spec, const TestCert& issuer) const {
    TestCert c = MakeCert(spec.subject, spec.serial, &issuer, false, TestKey(1024), spec.notBefore, spec.notAfter);
    AddExtension(c.x509, issuer.x509, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    if (!spec.eku.empty()) AddExtension(c.x509, issuer.x509, NID_ext_key_usage, spec.eku);
    if (!spec.rawSan.empty()) {
        ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(value, spec.rawSan.data(), static_cast<int>(spec.rawSan.size()));
        X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, NID_subject_alt_name, 0, value);
        Check(ext != nullptr, "raw subjectAltName");
        X509_add_ext(c.x509, ext, -1);
        X509_EXTENSION_free(ext);
        ASN1_OCTET_STRING_free(value);
    } else if (!spec.san.empty()) {
        AddExtension(c.x509, issuer.x509, NID_subject_alt_name, spec.san);
    }
    if (!spec.crlUrl.empty()) AddExtension(c.x509, issuer.x509, NID_crl_distribution_points, "URI:" + spec.crlUrl);
    Sign(c, issuer.key);
    return c;
}

static std::vector<uint8_t> MakeSignedCrl(const TestCert& issuer, const TestKey& signer,
                                          const std::vector<long>& revoked, const std::string& thisUpdate,
                                          const std::string& nextUpdate, CrlPadding padding);

std::vector<uint8_t> TestPki::MakeCrl(const TestCert& issuer, const TestKey& signer, const std::vector<long>& revoked,
                                      const std::string& thisUpdate, const std::string& nextUpdate) const {
    return MakeSignedCrl(issuer, signer, revoked, thisUpdate, nextUpdate, CrlPadding::Pkcs1);
}

std::vector<uint8_t> TestPki::MakeCrl(const TestCert& issuer, const TestKey& signer, const std::vector<long>& revoked,
                                      CrlPadding padding) const {
    return MakeSignedCrl(issuer, signer, revoked, "20250601000000Z", "20350101000000Z", padding);
}

static std::vector<uint8_t> MakeSignedCrl(const TestCert& issuer, const TestKey& signer,
                                          const std::vector<long>& revoked, const std::string& thisUpdate,
                                          const std::string& nextUpdate, CrlPadding padding) {
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer.x509));
    ASN1_TIME* t = ASN1_TIME_new();
    ASN1_TIME_set_string(t, thisUpdate.c_str());
    X509_CRL_set1_lastUpdate(crl, t);
    ASN1_TIME_set_string(t, nextUpdate.c_str());
    X509_CRL_set1_nextUpdate(crl, t);
    for (long serial : revoked) {
        X509_REVOKED* entry = X509_REVOKED_new();
        ASN1_INTEGER* number = ASN1_INTEGER_new();
        ASN1_INTEGER_set(number, serial);
        X509_REVOKED_set_serialNumber(entry, number);
        ASN1_TIME_set_string(t, thisUpdate.c_str());
        X509_REVOKED_set_revocationDate(entry, t);
        X509_CRL_add0_revoked(crl, entry);
        ASN1_INTEGER_free(number);
    }
    ASN1_TIME_free(t);
    X509_CRL_sort(crl);
    if (padding == CrlPadding::Pss) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_PKEY_CTX* keyCtx = nullptr;
        Check(EVP_DigestSignInit(ctx, &keyCtx, EVP_sha256(), nullptr, signer.pkey) > 0, "PSS init");
        Check(EVP_PKEY_CTX_set_rsa_padding(keyCtx, RSA_PKCS1_PSS_PADDING) > 0, "PSS padding");
        Check(EVP_PKEY_CTX_set_rsa_pss_saltlen(keyCtx, RSA_PSS_SALTLEN_DIGEST) > 0, "PSS salt");
        Check(X509_CRL_sign_ctx(crl, ctx) > 0, "CRL PSS signature");
        EVP_MD_CTX_free(ctx);
    } else {
        Check(X509_CRL_sign(crl, signer.pkey, EVP_sha256()) > 0, "CRL signature");
    }
    unsigned char* out = nullptr;
    const int n = i2d_X509_CRL(crl, &out);
    std::vector<uint8_t> der = Bytes(out, n);
    OPENSSL_free(out);
    X509_CRL_free(crl);
    return der;
}

void TestPki::Install(const std::string& stateRoot) const {
    WriteFile(stateRoot + "/etc/corvane/trust/root.pem", root.Pem());
    WriteFile(stateRoot + "/etc/corvane/trust/other-ca.pem", otherCa.Pem());
    WriteFile(stateRoot + "/etc/corvane/ntauth/ca.pem", ca.Pem());
}

void TestPki::InstallContainer(const std::string& stateRoot, const std::string& deviceId, const std::string& container,
                               const TestCert& leaf, const TestKey* key) {
    const std::string dir = stateRoot + "/var/lib/corvane/csp/" + deviceId + "/" + container;
    WriteFile(dir + "/key.pem", (key ? *key : leaf.key).Pem());
    WriteFile(dir + "/cert.pem", leaf.Pem());
}

std::string PemOfCrl(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
    Check(crl != nullptr, "CRL");
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509_CRL(bio, crl);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    X509_CRL_free(crl);
    return pem;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    Check(static_cast<bool>(out), "write");
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& content) {
    WriteFile(path, std::string(content.begin(), content.end()));
}

}  // namespace corvane::test
