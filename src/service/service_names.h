// The name under which the service is registered with the service control manager.
#pragma once

#include <string_view>

namespace corvane {

inline constexpr std::u16string_view kServiceName = u"Corvane";

}  // namespace corvane
