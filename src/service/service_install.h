// The install and uninstall verbs: the service registers itself with the service control manager
// under "Corvane" and removes itself again. Failures are shown as message boxes, since the
// program has no console or window of its own.
#pragma once

#include <string_view>

#include "platform/platform.h"
#include "service/service_names.h"

namespace corvane {

inline constexpr std::u16string_view kServiceDisplayName = u"Corvane Service";
inline constexpr std::u16string_view kMessageCaption = u"Corvane";

// Message box texts of the two verbs.
inline constexpr std::u16string_view kMsgCannotOpenManager = u"Couldn't open service manager";
inline constexpr std::u16string_view kMsgCannotOpenCreate = u"Couldn't open/create service";
inline constexpr std::u16string_view kMsgCannotUpdate = u"Couldn't update the service ";
inline constexpr std::u16string_view kMsgCannotOpenService = u"Couldn't open service";

// Creates the service, or repairs the configuration of an installed one (path, start type,
// display name, description). description is message text 1 in the current language.
// 1 on success, 0 on failure.
int InstallService(Platform& platform, std::u16string_view description);

// Requests a stop of the service and marks it for deletion. Non-zero on success, 0 on failure.
int UninstallService(Platform& platform);

}  // namespace corvane
