#include "platform/posix/posix_certificates.h"

#include <dirent.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "platform/file_time.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {

struct X509Free { void operator()(X509* x) const { X509_free(x); } };
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr ParseDer(const uint8_t* der, size_t size) {
    if (!der || size == 0 || size > static_cast<size_t>(INT32_MAX)) return nullptr;
    const unsigned char* p = der;
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(size)));
    // Bytes after the certificate make the whole no certificate.
    if (x && p != der + size) x.reset();
    return x;
}

std::vector<uint8_t> ToDer(X509* x) {
    unsigned char* out = nullptr;
    const int n = i2d_X509(x, &out);
    std::vector<uint8_t> der;
    if (n > 0) der.assign(out, out + n);
    OPENSSL_free(out);
    return der;
}

std::vector<uint8_t> NameDer(const X509_NAME* name) {
    const unsigned char* p = nullptr;
    size_t n = 0;
    if (!name || !X509_NAME_get0_der(name, &p, &n)) return {};
    return {p, p + n};
}

std::string OidText(const ASN1_OBJECT* obj) {
    char buf[128];
    const int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof buf)) return {};
    return buf;
}

bool EndsWithPem(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pem") == 0;
}

// Every certificate of every *.pem file in the folder (a file may hold several).
std::vector<X509Ptr> LoadFolder(const std::string& dir) {
    std::vector<X509Ptr> certs;
    DIR* d = opendir(dir.c_str());
    if (!d) return certs;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (EndsWithPem(e->d_name)) names.emplace_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        BIO* bio = BIO_new_file(path.c_str(), "r");
        if (!bio) continue;
        while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.emplace_back(x);
        ERR_clear_error();
        BIO_free(bio);
    }
    return certs;
}

uint32_t TrustBitOf(int error) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return CertTrust::NotTimeValid;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return CertTrust::NotSignatureValid;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return CertTrust::UntrustedRoot;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CertTrust::PartialChain;
        case X509_V_ERR_INVALID_PURPOSE:
            return CertTrust::NotValidForUsage;
        default:
            return CertTrust::InvalidExtension;
    }
}

// Collects the error of every element instead of stopping at the first, as a chain's trust
// status does.
int CollectErrors(int ok, X509_STORE_CTX* ctx) {
    if (!ok) {
        auto* bits = static_cast<uint32_t*>(X509_STORE_CTX_get_app_data(ctx));
        *bits |= TrustBitOf(X509_STORE_CTX_get_error(ctx));
    }
    return 1;
}

// Client or server authentication: an element with extended key usages must name one of them;
// one without names every usage.
bool ValidForAuthentication(X509* x) {
    if (!(X509_get_extension_flags(x) & EXFLAG_XKUSAGE)) return true;
    return (X509_get_extended_key_usage(x) & (XKU_SSL_CLIENT | XKU_SSL_SERVER)) != 0;
}

}  // namespace

PosixCertificates::PosixCertificates(std::string trustDir, std::string ntAuthDir)
    : m_trustDir(std::move(trustDir)), m_ntAuthDir(std::move(ntAuthDir)) {}

uint32_t PosixCertificates::DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) {
    out = {};
    X509Ptr x = ParseDer(der, size);
    if (!x) {
        ERR_clear_error();
        return CertError::CryptAsn1BadTag;
    }
    out.der.assign(der, der + size);
    if (const ASN1_INTEGER* serial = X509_get0_serialNumber(x.get())) {
        const unsigned char* s = ASN1_STRING_get0_data(serial);
        int n = ASN1_STRING_length(serial);
        while (n > 1 && *s == 0) { ++s; --n; }
        out.serial.assign(s, s + n);
    }
    out.issuer = NameDer(X509_get_issuer_name(x.get()));
    out.subject = NameDer(X509_get_subject_name(x.get()));
    if (X509_PUBKEY* pub = X509_get_X509_PUBKEY(x.get())) {
        ASN1_OBJECT* alg = nullptr;
        const unsigned char* key = nullptr;
        int keyLength = 0;
        if (X509_PUBKEY_get0_param(&alg, &key, &keyLength, nullptr, pub) && alg) {
            out.publicKeyAlgorithm = OidText(alg);
            if (key && keyLength > 0) out.publicKey.assign(key, key + keyLength);
        }
    }
    const int count = X509_get_ext_count(x.get());
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* ext = X509_get_ext(x.get(), i);
        CertExtension e;
        e.oid = OidText(X509_EXTENSION_get_object(ext));
        e.critical = X509_EXTENSION_get_critical(ext) != 0;
        if (const ASN1_OCTET_STRING* v = X509_EXTENSION_get_data(ext)) {
            const unsigned char* p = ASN1_STRING_get0_data(v);
            e.value.assign(p, p + ASN1_STRING_length(v));
        }
        out.extensions.push_back(std::move(e));
    }
    ERR_clear_error();
    return 0;
}

uint32_t PosixCertificates::BuildChain(const DecodedCertificate& cert, FileTime at, CertChainResult& out) {
    out = {};
    X509Ptr leaf = ParseDer(cert.der.data(), cert.der.size());
    if (!leaf) return CertError::CryptAsn1BadTag;

    std::vector<X509Ptr> roots = LoadFolder(m_trustDir);
    std::vector<X509Ptr> ntAuth = LoadFolder(m_ntAuthDir);
    X509_STORE* store = X509_STORE_new();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (!store || !untrusted || !ctx) {
        X509_STORE_CTX_free(ctx);
        sk_X509_free(untrusted);
        X509_STORE_free(store);
        return WinError::OutOfMemory;
    }
    for (const X509Ptr& root : roots) X509_STORE_add_cert(store, root.get());
    for (const X509Ptr& ca : ntAuth) sk_X509_push(untrusted, ca.get());

    uint32_t bits = 0;
    uint32_t error = 0;
    if (!X509_STORE_CTX_init(ctx, store, leaf.get(), untrusted)) {
        error = WinError::OutOfMemory;
    } else {
        X509_STORE_CTX_set_app_data(ctx, &bits);
        X509_STORE_CTX_set_verify_cb(ctx, CollectErrors);
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx), static_cast<time_t>(FileTimeToUnixSeconds(at)));
        X509_verify_cert(ctx);
        if (STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx)) {
            out.hasSimpleChain = sk_X509_num(chain) > 0;
            for (int i = 0; i < sk_X509_num(chain); ++i) {
                X509* element = sk_X509_value(chain, i);
                if (!ValidForAuthentication(element)) bits |= CertTrust::NotValidForUsage;
                out.elements.push_back(ToDer(element));
            }
        } else {
            out.hasSimpleChain = true;
            out.elements.push_back(cert.der);
            bits |= CertTrust::PartialChain;
            if (!ValidForAuthentication(leaf.get())) bits |= CertTrust::NotValidForUsage;
        }
    }
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    ERR_clear_error();
    if (error) return error;
    out.trustErrorStatus = bits;

    // The NT authentication rule: the CA that issued the certificate is one of the NT
    // authentication CAs (a self-signed certificate is its own issuer).
    if (bits == 0) {
        const std::vector<uint8_t>& issuing = out.elements.size() > 1 ? out.elements[1] : out.elements[0];
        bool listed = false;
        for (const X509Ptr& ca : ntAuth) listed = listed || ToDer(ca.get()) == issuing;
        out.policyError = listed ? 0 : CertError::CertUntrustedCa;
    }
    return 0;
}

uint32_t PosixCertificates::GetCrlUrls(const DecodedCertificate& cert, std::vector<std::u16string>& urls) {
    urls.clear();
    X509Ptr x = ParseDer(cert.der.data(), cert.der.size());
    if (!x) return CertError::CryptAsn1BadTag;
    auto* points = static_cast<STACK_OF(DIST_POINT)*>(
        X509_get_ext_d2i(x.get(), NID_crl_distribution_points, nullptr, nullptr));
    if (points) {
        for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
            const DIST_POINT* point = sk_DIST_POINT_value(points, i);
            if (!point->distpoint || point->distpoint->type != 0) continue;
            const GENERAL_NAMES* names = point->distpoint->name.fullname;
            for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
                const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, j);
                if (name->type != GEN_URI) continue;
                const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
                urls.push_back(Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                                                             ASN1_STRING_length(uri))));
            }
        }
        sk_DIST_POINT_pop_free(points, DIST_POINT_free);
    }
    ERR_clear_error();
    return urls.empty() ? CertError::CryptNotFound : 0;
}

uint32_t PosixCertificates::VerifyCrlSignature(const std::vector<uint8_t>& crlDer, const DecodedCertificate& issuer) {
    X509Ptr ca = ParseDer(issuer.der.data(), issuer.der.size());
    if (!ca || crlDer.empty() || crlDer.size() > static_cast<size_t>(INT32_MAX)) {
        ERR_clear_error();
        return CertError::CryptAsn1BadTag;
    }
    const unsigned char* p = crlDer.data();
    std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> crl(
        d2i_X509_CRL(nullptr, &p, static_cast<long>(crlDer.size())), X509_CRL_free);
    if (!crl || p != crlDer.data() + crlDer.size()) {
        ERR_clear_error();
        return CertError::CryptAsn1BadTag;
    }
    EVP_PKEY* key = X509_get0_pubkey(ca.get());
    // 1: verified; 0: a signature that does not verify; below 0: an algorithm, parameter or key
    // the library cannot use for it.
    const int rc = key ? X509_CRL_verify(crl.get(), key) : -1;
    ERR_clear_error();
    if (rc == 1) return 0;
    return rc == 0 ? CertError::NteBadSignature : CertError::NteBadAlgId;
}

std::u16string PosixCertificates::NameToText(const std::vector<uint8_t>& nameDer) {
    if (nameDer.empty() || nameDer.size() > static_cast<size_t>(INT32_MAX)) return {};
    const unsigned char* p = nameDer.data();
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(nameDer.size()));
    std::u16string text;
    if (name && p == nameDer.data() + nameDer.size()) {
        BIO* bio = BIO_new(BIO_s_mem());
        // "CN=..., O=..." in the order of the encoding, UTF-8 kept as it is.
        const unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
        if (bio && X509_NAME_print_ex(bio, name, 0, flags) >= 0) {
            char* data = nullptr;
            const long n = BIO_get_mem_data(bio, &data);
            if (data && n > 0) text = Utf8ToUtf16(std::string_view(data, static_cast<size_t>(n)));
        }
        BIO_free(bio);
    }
    X509_NAME_free(name);
    ERR_clear_error();
    return text;
}

}  // namespace corvane::posix
