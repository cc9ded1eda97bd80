#include <gtest/gtest.h>

#include "platform/text.h"
#include "service/ccorvane_app.h"

namespace corvane {
namespace {

TEST(CommandLineVerb, VerbMustBeTheWholeRemainder) {
    const struct {
        const char16_t* line;
        ServiceVerb expected;
    } cases[] = {
        {u"C:\\Corvane\\corvane.exe /install", ServiceVerb::Install},
        {u"C:\\Corvane\\corvane.exe -INSTALL", ServiceVerb::Install},
        {u"\"C:\\Corvane\\corvane.exe\" /Uninstall", ServiceVerb::Uninstall},
        {u"C:\\Corvane\\corvane.exe -install now", ServiceVerb::None},
        {u"C:\\Corvane\\corvane.exe -Install extra", ServiceVerb::None},
        {u"C:\\my-tools\\corvane.exe", ServiceVerb::None},             // delimiter inside the path
        {u"C:\\my-tools\\corvane.exe /install", ServiceVerb::Install},  // skipped over, then found
        {u"/usr/bin/corvane", ServiceVerb::None},
        {u"corvane.exe /installer", ServiceVerb::None},
        {u"corvane.exe /", ServiceVerb::None},
        {u"", ServiceVerb::None},
    };
    for (const auto& c : cases) EXPECT_EQ(ScanCommandLineVerb(c.line), c.expected) << Utf16ToUtf8(c.line);
}

}  // namespace
}  // namespace corvane
