#include "platform/posix/posix_crl_retriever.h"

#include <curl/curl.h>

#include "platform/crl_url.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {

constexpr uint32_t kErrorTimeout = 1460;           // ERROR_TIMEOUT
constexpr uint32_t kErrorCannotConnect = 12029;    // ERROR_WINHTTP_CANNOT_CONNECT
constexpr uint32_t kErrorInvalidUrl = 12005;       // ERROR_WINHTTP_INVALID_URL

size_t Append(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    const size_t n = size * count;
    if (out->size() + n > kMaxCrlBytes) return 0;  // ends the transfer with a write error
    out->insert(out->end(), data, data + n);
    return n;
}

}  // namespace

// libcurl's global set-up is not thread-safe; it runs once here, before any worker thread can
// retrieve anything.
PosixCrlRetriever::PosixCrlRetriever() { curl_global_init(CURL_GLOBAL_DEFAULT); }
PosixCrlRetriever::~PosixCrlRetriever() { curl_global_cleanup(); }

uint32_t PosixCrlRetriever::RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs,
                                        std::vector<uint8_t>& der) {
    der.clear();
    if (!IsRetrievableCrlUrl(url)) return kCrlUrlRefused;
    if (flags & CrlRetrieval::CacheOnly) return CertError::CryptNotFound;
    const std::string target = Utf16ToUtf8(url);
    if (target.empty() || target.find('\0') != std::string::npos) return kErrorInvalidUrl;

    CURL* curl = curl_easy_init();
    if (!curl) return WinError::OutOfMemory;
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &der);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc == CURLE_OK && !der.empty()) return 0;
    der.clear();
    switch (rc) {
        case CURLE_OPERATION_TIMEDOUT: return kErrorTimeout;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST: return kErrorCannotConnect;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return kErrorInvalidUrl;
        default: return CertError::CryptNotFound;
    }
}

}  // namespace corvane::posix
