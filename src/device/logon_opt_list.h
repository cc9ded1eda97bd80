// An array of owned logon options in insertion order, one per user and domain (compared ignoring
// case), as network devices keep them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "device/clogon_opt.h"
#include "platform/clock.h"

namespace corvane {

using CLogonOptArray = std::vector<std::unique_ptr<CLogonOpt>>;

// Upsert by (user, domain) ignoring case. A match gets the option and delay, time = now and its
// handled flag cleared (activity tick, away since and last sample stay); otherwise a new option
// is appended with time = now and last sample = the current tick.
void AddLogonOption(CLogonOptArray& options, IClock& clock, std::u16string_view user, std::u16string_view domain,
                    int32_t option, int32_t delay);
// The first option for (user, domain), ignoring case; null when none matches.
CLogonOpt* FindLogonOption(CLogonOptArray& options, std::u16string_view user, std::u16string_view domain);
// Deletes the first option for (user, domain), ignoring case; nothing when none matches.
void RemoveLogonOption(CLogonOptArray& options, std::u16string_view user, std::u16string_view domain);

}  // namespace corvane
