// The machine's Kerberos configuration, read for the users' domain: whatever bytes it holds, the
// realm found is empty or a DNS-like name, and its NetBIOS form is at most 15 characters.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/logind_events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace corvane::posix;
    const std::string realm = DefaultRealmOf(std::string_view(reinterpret_cast<const char*>(data), size));
    for (char c : realm) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') std::abort();
    }
    if (NetbiosOfRealm(realm).size() > 15) std::abort();
    return 0;
}
