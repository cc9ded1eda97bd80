#include "platform/crl_url.h"

namespace corvane {

namespace {

// Strips "scheme://" when the URL starts with it, ignoring the case of the scheme.
bool StripScheme(std::u16string_view& url, std::u16string_view scheme) {
    if (url.size() < scheme.size() + 3) return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
        char16_t c = url[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != scheme[i]) return false;
    }
    if (url.substr(scheme.size(), 3) != u"://") return false;
    url.remove_prefix(scheme.size() + 3);
    return true;
}

}  // namespace

bool IsRetrievableCrlUrl(std::u16string_view url) {
    for (char16_t c : url) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    if (!StripScheme(url, u"http") && !StripScheme(url, u"https")) return false;
    // A host must follow: "http:///x" or "http://\\host" names no server.
    return !url.empty() && url.front() != u'/' && url.front() != u'\\' && url.front() != u'?' &&
           url.front() != u'#';
}

}  // namespace corvane
