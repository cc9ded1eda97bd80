#include "platform/win32/win32_certificates.h"

#include "platform/win32/win32_api.h"

#include <wincrypt.h>

#include <algorithm>

#include "platform/crl_url.h"
#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {

// A certificate context for the duration of a call.
class CertContext {
public:
    CertContext(const uint8_t* der, size_t size)
        : m_p(der && size ? ::CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(size)) : nullptr) {}
    ~CertContext() {
        if (m_p) ::CertFreeCertificateContext(m_p);
    }
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;
    PCCERT_CONTEXT get() const { return m_p; }

private:
    PCCERT_CONTEXT m_p;
};

std::vector<uint8_t> Blob(const CRYPT_DATA_BLOB& blob) { return {blob.pbData, blob.pbData + blob.cbData}; }

}  // namespace

uint32_t Win32Certificates::DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) {
    out = {};
    CertContext cert(der, size);
    if (!cert.get()) return der && size ? ::GetLastError() : static_cast<uint32_t>(CertError::CryptAsn1BadTag);
    const CERT_INFO* info = cert.get()->pCertInfo;
    out.der.assign(der, der + size);
    // CryptoAPI keeps integers least significant byte first.
    out.serial.assign(info->SerialNumber.pbData, info->SerialNumber.pbData + info->SerialNumber.cbData);
    std::reverse(out.serial.begin(), out.serial.end());
    while (out.serial.size() > 1 && out.serial.front() == 0) out.serial.erase(out.serial.begin());
    out.issuer = Blob(info->Issuer);
    out.subject = Blob(info->Subject);
    if (info->SubjectPublicKeyInfo.Algorithm.pszObjId) out.publicKeyAlgorithm = info->SubjectPublicKeyInfo.Algorithm.pszObjId;
    const CRYPT_BIT_BLOB& key = info->SubjectPublicKeyInfo.PublicKey;
    out.publicKey.assign(key.pbData, key.pbData + key.cbData);
    for (DWORD i = 0; i < info->cExtension; ++i) {
        const CERT_EXTENSION& ext = info->rgExtension[i];
        CertExtension e;
        if (ext.pszObjId) e.oid = ext.pszObjId;
        e.critical = ext.fCritical != FALSE;
        e.value = Blob(ext.Value);
        out.extensions.push_back(std::move(e));
    }
    return 0;
}

uint32_t Win32Certificates::BuildChain(const DecodedCertificate& decoded, FileTime at, CertChainResult& out) {
    out = {};
    CertContext cert(decoded.der.data(), decoded.der.size());
    if (!cert.get()) return ::GetLastError();
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CLIENT_AUTH), const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 2;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(at);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(at) >> 32);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, cert.get(), &time, nullptr, &para, 0, nullptr, &chain)) {
        return ::GetLastError();
    }
    out.trustErrorStatus = chain->TrustStatus.dwErrorStatus;
    if (chain->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        out.hasSimpleChain = true;
        for (DWORD i = 0; i < simple->cElement; ++i) {
            const CERT_CONTEXT* element = simple->rgpElement[i]->pCertContext;
            out.elements.emplace_back(element->pbCertEncoded, element->pbCertEncoded + element->cbCertEncoded);
        }
    }
    uint32_t result = 0;
    if (out.trustErrorStatus == 0) {
        CERT_CHAIN_POLICY_PARA policy {};
        policy.cbSize = sizeof policy;
        CERT_CHAIN_POLICY_STATUS status {};
        status.cbSize = sizeof status;
        if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_NT_AUTH, chain, &policy, &status)) {
            result = ::GetLastError();
        } else {
            out.policyError = status.dwError;
        }
    }
    ::CertFreeCertificateChain(chain);
    return result;
}

uint32_t Win32Certificates::GetCrlUrls(const DecodedCertificate& decoded, std::vector<std::u16string>& urls) {
    urls.clear();
    CertContext cert(decoded.der.data(), decoded.der.size());
    if (!cert.get()) return ::GetLastError();
    DWORD arraySize = 0;
    DWORD infoSize = 0;
    const LPVOID target = const_cast<CERT_CONTEXT*>(cert.get());
    if (!::CryptGetObjectUrl(URL_OID_CERTIFICATE_CRL_DIST_POINT, target, CRYPT_GET_URL_FROM_EXTENSION, nullptr,
                             &arraySize, nullptr, &infoSize, nullptr)) {
        return ::GetLastError();
    }
    std::vector<uint8_t> arrayBuffer(arraySize);
    std::vector<uint8_t> infoBuffer(infoSize);
    auto* array = reinterpret_cast<CRYPT_URL_ARRAY*>(arrayBuffer.data());
    auto* info = reinterpret_cast<CRYPT_URL_INFO*>(infoBuffer.data());
    if (!::CryptGetObjectUrl(URL_OID_CERTIFICATE_CRL_DIST_POINT, target, CRYPT_GET_URL_FROM_EXTENSION, array,
                             &arraySize, info, &infoSize, nullptr)) {
        return 0x80090349;  // the distribution points cannot be read
    }
    for (DWORD i = 0; i < array->cUrl; ++i) urls.push_back(FromWide(array->rgwszUrl[i]));
    return urls.empty() ? static_cast<uint32_t>(CertError::CryptNotFound) : 0;
}

uint32_t Win32Certificates::VerifyCrlSignature(const std::vector<uint8_t>& crlDer, const DecodedCertificate& issuer) {
    CertContext ca(issuer.der.data(), issuer.der.size());
    if (!ca.get()) return ::GetLastError();
    PCCRL_CONTEXT crl =
        crlDer.empty() ? nullptr
                       : ::CertCreateCRLContext(X509_ASN_ENCODING, crlDer.data(), static_cast<DWORD>(crlDer.size()));
    if (!crl) return crlDer.empty() ? static_cast<uint32_t>(CertError::CryptAsn1BadTag) : ::GetLastError();
    uint32_t result = 0;
    // NTE_BAD_SIGNATURE when the signature does not verify; another error (NTE_BAD_ALGID, ...)
    // when CryptoAPI cannot check it.
    if (!::CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
                                             const_cast<CRL_CONTEXT*>(crl), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(ca.get()), 0, nullptr)) {
        result = ::GetLastError();
        if (result == 0) result = CertError::NteBadSignature;
    }
    ::CertFreeCRLContext(crl);
    return result;
}

std::u16string Win32Certificates::NameToText(const std::vector<uint8_t>& nameDer) {
    if (nameDer.empty()) return {};
    CERT_NAME_BLOB blob;
    blob.cbData = static_cast<DWORD>(nameDer.size());
    blob.pbData = const_cast<BYTE*>(nameDer.data());
    const DWORD type = CERT_X500_NAME_STR;
    const DWORD size = ::CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    if (size <= 1) return {};
    std::wstring text(size, L'\0');
    const DWORD written = ::CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), size);
    if (written <= 1) return {};
    text.resize(written - 1);
    return FromWide(text.c_str());
}

uint32_t Win32CrlRetriever::RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs,
                                        std::vector<uint8_t>& der) {
    der.clear();
    // Refused before the call, which would also follow file:// (an SMB logon with the machine
    // account for a UNC host) and ldap://.
    if (!IsRetrievableCrlUrl(url)) return kCrlUrlRefused;
    const std::wstring target = Wide(url);
    LPVOID object = nullptr;
    CRYPT_RETRIEVE_AUX_INFO aux {};
    aux.cbSize = sizeof aux;
    aux.dwMaxUrlRetrievalByteCount = kMaxCrlBytes;
    // No credentials of the service are offered to the server.
    if (!::CryptRetrieveObjectByUrlW(target.c_str(), CONTEXT_OID_CRL, flags | CRYPT_NO_AUTH_RETRIEVAL, timeoutMs,
                                     &object, nullptr, nullptr, nullptr, &aux)) {
        return ::GetLastError();
    }
    const auto* crl = static_cast<PCCRL_CONTEXT>(object);
    der.assign(crl->pbCrlEncoded, crl->pbCrlEncoded + crl->cbCrlEncoded);
    ::CertFreeCRLContext(crl);
    return 0;
}

}  // namespace corvane::win32
