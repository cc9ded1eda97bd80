// A test PKI made at test time with the OpenSSL library: a root and an issuing CA, leaves with
// the subject alternative names, usages, validity and distribution points a case needs, and CRLs
// signed by the CA or by a forger. Nothing of it is checked in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace corvane::test {

struct TestKey {
    TestKey() = default;
    // An RSA key of `bits` bits (any length, not only whole bytes).
    explicit TestKey(int bits);
    // An ECDSA key on the P-256 curve.
    static TestKey P256();
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    TestKey(TestKey&& other) noexcept;
    TestKey& operator=(TestKey&& other) noexcept;
    EVP_PKEY* pkey = nullptr;
    std::string Pem() const;
};

struct TestCert {
    TestCert() = default;
    ~TestCert();
    TestCert(const TestCert&) = delete;
    TestCert& operator=(const TestCert&) = delete;
    TestCert(TestCert&& other) noexcept;
    TestCert& operator=(TestCert&& other) noexcept;
    X509* x509 = nullptr;
    TestKey key;
    std::vector<uint8_t> Der() const;
    std::string Pem() const;
};

struct LeafSpec {
    long serial = 0x1001;
    std::string subject = "CN=alice";
    // An OpenSSL subjectAltName value ("otherName:1.3.6.1.4.1.311.20.2.3;UTF8:alice@corp.example,...");
    // empty for none.
    std::string san;
    // The extension's DER value as given, instead of `san` (for malformed or odd names).
    std::vector<uint8_t> rawSan;
    // An extendedKeyUsage value ("clientAuth", "codeSigning", ...); empty for none.
    std::string eku = "clientAuth";
    std::string notBefore = "20200101000000Z";
    std::string notAfter = "20400101000000Z";
    std::string crlUrl;  // a CRL distribution point URI; empty for none
};

// How a CRL is signed: RSA PKCS#1 v1.5 (or ECDSA for an EC key) with SHA-256, or RSA-PSS with
// SHA-256.
enum class CrlPadding { Pkcs1, Pss };

// The subjectAltName value of a principal name.
std::string UpnSan(const std::string& upn);

class TestPki {
public:
    // Makes the root, the issuing CA (signed by the root), a second issuing CA outside the NT
    // authentication CAs, and an unrelated root.
    TestPki();

    TestCert MakeLeaf(const LeafSpec& spec, const TestCert& issuer) const;
    TestCert MakeLeaf(const LeafSpec& spec) const { return MakeLeaf(spec, ca); }

    // A CRL of `issuer`'s name revoking the serials, signed with `signer` (the issuer's own key
    // for a genuine list, another for a forged one).
    std::vector<uint8_t> MakeCrl(const TestCert& issuer, const TestKey& signer, const std::vector<long>& revoked,
                                 const std::string& thisUpdate = "20250601000000Z",
                                 const std::string& nextUpdate = "20350101000000Z") const;
    std::vector<uint8_t> MakeCrl(const std::vector<long>& revoked) const { return MakeCrl(ca, ca.key, revoked); }
    std::vector<uint8_t> MakeCrl(const TestCert& issuer, const TestKey& signer, const std::vector<long>& revoked,
                                 CrlPadding padding) const;

    // Writes the root to <root>/etc/corvane/trust/root.pem, the second CA beside it, and the
    // issuing CA to <root>/etc/corvane/ntauth/ca.pem.
    void Install(const std::string& stateRoot) const;
    // Puts a leaf into the CSP stand-in's store as csp/<id>/<container>/ (key.pem, cert.pem);
    // `key` replaces the leaf's own key when given.
    static void InstallContainer(const std::string& stateRoot, const std::string& deviceId,
                                 const std::string& container, const TestCert& leaf, const TestKey* key = nullptr);

    TestCert root;
    TestCert ca;
    TestCert otherCa;     // issued by the root, not an NT authentication CA
    TestCert strangerRoot;  // trusted by nobody
    // Issuing CAs of the root whose lists need more than RSA PKCS#1 v1.5 with a whole-byte key:
    // one signing its lists with RSA-PSS, one with a P-256 key, one with a 1025-bit RSA key.
    TestCert pssCa;
    TestCert p256Ca;
    TestCert oddRsaCa;
};

std::string PemOfCrl(const std::vector<uint8_t>& der);
void WriteFile(const std::string& path, const std::string& content);
void WriteFile(const std::string& path, const std::vector<uint8_t>& content);

}  // namespace corvane::test
