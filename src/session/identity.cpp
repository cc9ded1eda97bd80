#include "session/identity.h"

#include <vector>

#include "platform/text.h"

namespace corvane {

namespace {
std::u16string Join(std::u16string_view user, std::u16string_view domain) {
    std::u16string out(user);
    out.push_back(u'@');
    out.append(domain);
    return out;
}
}  // namespace

bool SplitUpn(std::u16string_view upn, std::u16string_view& user, std::u16string_view& domain) {
    const size_t at = upn.find(u'@');
    if (at == std::u16string_view::npos) return false;
    user = upn.substr(0, at);
    domain = upn.substr(at + 1);
    return true;
}

CIdentity::CIdentity(ISessions& sessions, const Configuration& config) : m_sessions(sessions), m_config(config) {}

CIdentity CIdentity::WithTrustsNow() const {
    CIdentity kept(m_sessions, m_config);
    kept.m_nTrustsError = EnumerateTrusts(kept.m_arrTrusts);
    kept.m_bTrustsKept = true;
    return kept;
}

uint32_t CIdentity::EnumerateTrusts(std::vector<DomainTrust>& out) const {
    if (!m_bTrustsKept) return m_sessions.EnumerateDomainTrusts(out);
    out = m_arrTrusts;
    return m_nTrustsError;
}

std::optional<std::u16string> CIdentity::TrustDnsName(std::u16string_view netbios) {
    std::vector<DomainTrust> trusts;
    if (EnumerateTrusts(trusts) != 0) return std::nullopt;
    for (const auto& trust : trusts) {
        if (EqualsNoCase(trust.NetbiosDomainName, netbios)) return trust.DnsDomainName;
    }
    return std::nullopt;
}

std::u16string CIdentity::MakeIdentity(std::u16string_view user, std::u16string_view domain) {
    if (auto dns = TrustDnsName(domain)) return Join(user, *dns);
    return Join(user, domain);
}

std::u16string CIdentity::MakeRecordUpn(std::u16string_view user, std::u16string_view domain) {
    if (!EqualsNoCase(domain, m_config.g_strComputerName)) {
        if (auto dns = TrustDnsName(domain)) return Join(user, *dns);
    }
    return Join(user, domain);
}

bool CIdentity::MatchesUpn(std::u16string_view upn, std::u16string_view user, std::u16string_view domain) {
    std::u16string_view upnUser, upnDomain;
    if (!SplitUpn(upn, upnUser, upnDomain) || upnUser.empty() || !EqualsNoCase(upnUser, user)) return false;
    if (upnDomain.find(u'.') == std::u16string_view::npos) return EqualsNoCase(upnDomain, domain);
    std::vector<DomainTrust> trusts;
    if (EnumerateTrusts(trusts) != 0) return false;
    for (const auto& trust : trusts) {
        if (EqualsNoCase(trust.DnsDomainName, upnDomain) && EqualsNoCase(trust.NetbiosDomainName, domain)) return true;
    }
    return false;
}

bool CIdentity::IsKnownUpnDomain(std::u16string_view upn) {
    std::u16string_view upnUser, upnDomain;
    if (!SplitUpn(upn, upnUser, upnDomain) || upnUser.empty()) return false;
    if (upnDomain.find(u'.') == std::u16string_view::npos) return EqualsNoCase(upnDomain, m_config.g_strComputerName);
    std::vector<DomainTrust> trusts;
    if (EnumerateTrusts(trusts) != 0) return false;
    for (const auto& trust : trusts) {
        if (EqualsNoCase(trust.DnsDomainName, upnDomain)) return true;
    }
    return false;
}

}  // namespace corvane
