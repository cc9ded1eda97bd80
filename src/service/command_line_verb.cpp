#include "service/ccorvane_app.h"
#include "platform/text.h"

namespace corvane {

ServiceVerb ScanCommandLineVerb(std::u16string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != u'-' && line[i] != u'/') continue;
        // The verb must be the whole rest of the line: "/install" matches, "-install now" does not.
        const std::u16string_view rest = line.substr(i + 1);
        if (EqualsNoCase(rest, u"Uninstall")) return ServiceVerb::Uninstall;
        if (EqualsNoCase(rest, u"Install")) return ServiceVerb::Install;
    }
    return ServiceVerb::None;
}

}  // namespace corvane
