#include "platform/win32/win32_service_manager.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

struct PathCase {
    const char* label;
    std::u16string path;
    std::u16string commandLine;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.label; }

class ServiceCommandLineTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ServiceCommandLineTest, APathWithABlankIsQuoted) {
    EXPECT_EQ(win32::Win32ServiceManager::CommandLineForPath(GetParam().path), GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCommandLineTest,
    ::testing::Values(PathCase {"NoBlank", u"C:\\Corvane\\corvane.exe", u"C:\\Corvane\\corvane.exe"},
                      PathCase {"Blank", u"C:\\Program Files\\Corvane\\corvane.exe",
                                u"\"C:\\Program Files\\Corvane\\corvane.exe\""},
                      PathCase {"AlreadyQuoted", u"\"C:\\Program Files\\x.exe\"", u"\"C:\\Program Files\\x.exe\""}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace corvane
