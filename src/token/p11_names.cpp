#include "token/p11_names.h"

#include "platform/text.h"

namespace corvane {

std::string SlotMutexPart(std::string_view description) {
    std::string part(description);
    for (char& c : part) {
        if (c == ' ' || c == '\\' || c == '/') c = '_';
    }
    return part;
}

namespace {
// The pattern with its %s replaced. Narrow text is taken as UTF-8, the ANSI code page here.
std::u16string FromPattern(std::string_view pattern, std::string_view description) {
    std::string name(pattern);
    const size_t at = name.find("%s");
    if (at != std::string::npos) name.replace(at, 2, SlotMutexPart(description));
    return Utf8ToUtf16(name);
}
}  // namespace

std::u16string SlotMutexName(std::string_view description) { return FromPattern(kMutexP11SlotPattern, description); }

std::u16string ContainerMutexName(std::string_view description) {
    return FromPattern(kMutexP11ContainerPattern, description);
}

}  // namespace corvane
