// Identities of logged-on users: "user@domain", where a domain that the machine trusts is named
// by its DNS name. The trusts are asked for at every use (they can change while the service
// runs); when they cannot be enumerated the NetBIOS domain name stands. Asking may take a domain
// controller's time, so work done under the session table mutex uses a copy whose trusts were
// asked for once, before the mutex was taken (WithTrustsNow).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "platform/sessions.h"

namespace corvane {

class CIdentity {
public:
    // `config` gives g_strComputerName, read at every use.
    CIdentity(ISessions& sessions, const Configuration& config);

    // The same rules with the trusts enumerated once, now, and kept for every later use.
    CIdentity WithTrustsNow() const;

    // The user name, "@" and the domain, or the DNS name of the first trust whose NetBIOS name is
    // the domain.
    std::u16string MakeIdentity(std::u16string_view user, std::u16string_view domain);
    // The identity a session record keeps (m_strUpn): a local account (the domain is this
    // computer's name) keeps its domain; other domains are replaced by a trust's DNS name.
    std::u16string MakeRecordUpn(std::u16string_view user, std::u16string_view domain);
    // Whether a user principal name names this user of this domain: the part before the first
    // "@" is the user; the part after is the NetBIOS domain itself, or (with a dot) the DNS name
    // of a trust whose NetBIOS name is the domain.
    bool MatchesUpn(std::u16string_view upn, std::u16string_view user, std::u16string_view domain);
    // Whether the domain of a user principal name is known here: a trust's DNS name (with a dot)
    // or this computer's name (without).
    bool IsKnownUpnDomain(std::u16string_view upn);

    // The DNS name of the first trust whose NetBIOS name is `netbios`, ignoring case.
    std::optional<std::u16string> TrustDnsName(std::u16string_view netbios);

private:
    // The trusts: the kept ones when there are, otherwise asked for now. 0 or the error.
    uint32_t EnumerateTrusts(std::vector<DomainTrust>& out) const;

    ISessions& m_sessions;
    const Configuration& m_config;
    bool m_bTrustsKept = false;
    uint32_t m_nTrustsError = 0;
    std::vector<DomainTrust> m_arrTrusts;
};

// Splits a user principal name at its first "@"; false when there is none.
bool SplitUpn(std::u16string_view upn, std::u16string_view& user, std::u16string_view& domain);

}  // namespace corvane
