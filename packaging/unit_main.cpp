// Writes the service's systemd unit as the package ships it: the text the install verb writes,
// for the program in /usr/sbin and the machine's own state directories.
#include <cstdio>
#include <string>

#include "platform/posix/posix_service_manager.h"
#include "platform/posix/posix_system_messages.h"
#include "platform/posix/service_unit.h"
#include "platform/text.h"
#include "service/service_install.h"
#include "wire/result_text.h"

int main(int argc, char** argv) {
    using namespace corvane;
    const std::string program = argc > 1 ? argv[1] : "/usr/sbin/corvane";
    posix::ServiceUnitSpec spec;
    spec.execStart = posix::PosixServiceManager::QuoteUnitWord(program, true);
    spec.displayName = Utf16ToUtf8(kServiceDisplayName);
    spec.descriptionLine = "Description=" + spec.displayName;
    // English: the language of the account a service runs under on a fresh machine.
    posix::PosixSystemMessages messages;
    const CMessageTexts texts(0x0409, messages);
    const std::string unit = posix::PosixServiceManager::ReplaceDescription(
        posix::FormatServiceUnit(spec), Utf16ToUtf8(texts.GetText(TextId::ServiceDescription, u"")));
    std::fputs(unit.c_str(), stdout);
    return 0;
}
