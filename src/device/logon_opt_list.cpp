#include "device/logon_opt_list.h"

#include "platform/text.h"

namespace corvane {

namespace {
CLogonOptArray::iterator FindMatch(CLogonOptArray& options, std::u16string_view user, std::u16string_view domain) {
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (EqualsNoCase((*it)->m_strUser, user) && EqualsNoCase((*it)->m_strDomain, domain)) return it;
    }
    return options.end();
}
}  // namespace

void AddLogonOption(CLogonOptArray& options, IClock& clock, std::u16string_view user, std::u16string_view domain,
                    int32_t option, int32_t delay) {
    const FileTime now = clock.GetSystemTimeAsFileTime();
    auto it = FindMatch(options, user, domain);
    if (it != options.end()) {
        CLogonOpt* found = it->get();
        found->m_nOption = option;
        found->m_nDelay = delay;
        found->m_ftTime = now;
        found->m_bHandled = 0;
        return;
    }
    auto opt = std::make_unique<CLogonOpt>();
    opt->m_strUser = user;
    opt->m_strDomain = domain;
    opt->m_nOption = option;
    opt->m_nDelay = delay;
    opt->m_ftTime = now;
    opt->m_dwLastSample = clock.GetTickCount();
    options.push_back(std::move(opt));
}

CLogonOpt* FindLogonOption(CLogonOptArray& options, std::u16string_view user, std::u16string_view domain) {
    auto it = FindMatch(options, user, domain);
    return it != options.end() ? it->get() : nullptr;
}

void RemoveLogonOption(CLogonOptArray& options, std::u16string_view user, std::u16string_view domain) {
    auto it = FindMatch(options, user, domain);
    if (it != options.end()) options.erase(it);
}

}  // namespace corvane
