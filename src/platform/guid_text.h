// GUID text in the registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: formatting as
// StringFromGUID2 does (upper case, braces) and parsing as CLSIDFromString accepts it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace corvane {

std::u16string FormatGuid(const Guid& guid);
// Accepts exactly 38 characters: braces, hex digits of either case, dashes in their places.
std::optional<Guid> ParseGuid(std::u16string_view text);

}  // namespace corvane
