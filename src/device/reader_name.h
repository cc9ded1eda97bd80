// The reader behind a slot description. A token library keeps at most 64 characters of a reader's
// name as its slot description: the card sign-in knows the reader only by that description, and
// the resource manager knows no reader by a name cut short.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/smart_cards.h"

namespace corvane {

// The characters of a reader name a slot description can hold.
inline constexpr size_t kReaderDescriptionChars = 64;

// The one reader among `readers` whose name the description `name` stands for: the name itself
// when a reader has it, else the one longer reader whose first 64 characters (without the blanks
// at their end) or last 64 characters equal it, ignoring case. `name` unchanged when there is no
// such reader, or more than one.
std::u16string ReaderOfDescription(std::u16string_view name, const std::vector<std::u16string>& readers);

// The same against the readers attached now. A resource manager that cannot be reached, or a name
// longer than a description, leaves the name as it is.
std::u16string ReaderOfDescription(ISmartCards& smartCards, std::u16string_view name);

}  // namespace corvane
