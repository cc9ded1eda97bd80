#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/posix_registry.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

class PosixRegistryTest : public ::testing::Test {
protected:
    test::TempDir dir;
    posix::PosixRegistry reg {dir.Path("registry")};
};

TEST_F(PosixRegistryTest, CreatedKeysOpenIgnoringCaseAndTrailingBackslash) {
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel\\LogonOptions\\"), 0u);
    EXPECT_EQ(reg.OpenKey(u"software\\TOVREL\\logonoptions"), 0u);
    EXPECT_EQ(reg.OpenKey(u"SOFTWARE\\Tovrel\\Pair"), 2u);
    std::vector<std::u16string> names;
    ASSERT_EQ(reg.EnumSubkeys(u"SOFTWARE\\Tovrel", names), 0u);
    EXPECT_EQ(names, std::vector<std::u16string> {u"LogonOptions"});
}

TEST_F(PosixRegistryTest, ValuesKeepTheirTypeAndData) {
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel"), 0u);
    ASSERT_EQ(RegSetString(reg, u"SOFTWARE\\Tovrel", u"HostGUID", u"{0}"), 0u);
    ASSERT_EQ(RegSetDword(reg, u"SOFTWARE\\Tovrel", u"Port", 70000), 0u);
    ASSERT_EQ(RegSetBinary(reg, u"SOFTWARE\\Tovrel", u"RSAKey", {0, 1, 2, 255}), 0u);

    RegValue v;
    ASSERT_EQ(reg.QueryValue(u"SOFTWARE\\Tovrel", u"hostguid", v, 80), 0u);
    EXPECT_EQ(v.type, RegType::Sz);
    EXPECT_EQ(v.data, (std::vector<uint8_t> {'{', 0, '0', 0, '}', 0, 0, 0}));
    uint32_t d = 0;
    ASSERT_EQ(RegQueryDword(reg, u"SOFTWARE\\Tovrel", u"Port", d), 0u);
    EXPECT_EQ(d, 70000u);
    ASSERT_EQ(reg.QueryValue(u"SOFTWARE\\Tovrel", u"RSAKey", v, 4096), 0u);
    EXPECT_EQ(v.type, RegType::Binary);
    EXPECT_EQ(v.data, (std::vector<uint8_t> {0, 1, 2, 255}));
}

TEST_F(PosixRegistryTest, ErrorsAsWindowsReportsThem) {
    ASSERT_EQ(reg.CreateKey(u"K"), 0u);
    RegValue v;
    EXPECT_EQ(reg.QueryValue(u"K", u"missing", v, 10), 2u);
    EXPECT_EQ(reg.QueryValue(u"Nope", u"x", v, 10), 2u);
    EXPECT_EQ(RegSetString(reg, u"Nope", u"x", u"y"), 2u);  // set needs an existing key
    ASSERT_EQ(RegSetBinary(reg, u"K", u"big", std::vector<uint8_t>(100, 7)), 0u);
    EXPECT_EQ(reg.QueryValue(u"K", u"big", v, 99), 234u);  // ERROR_MORE_DATA
    EXPECT_EQ(reg.DeleteValue(u"K", u"big"), 0u);
    EXPECT_EQ(reg.QueryValue(u"K", u"big", v, 100), 2u);
}

TEST_F(PosixRegistryTest, OverwriteIsAtomicAndLeavesNoTemporaryFile) {
    ASSERT_EQ(reg.CreateKey(u"K"), 0u);
    for (uint32_t i = 0; i < 5; ++i) ASSERT_EQ(RegSetDword(reg, u"K", u"n", i), 0u);
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path("registry/K"))) {
        EXPECT_EQ(e.path().filename().string().rfind(".tmp-", 0), std::string::npos);
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(PosixRegistryTest, NamesWithAnyCharactersRoundTrip) {
    const std::u16string odd = u"a/b\\c%d=.e \u00E9";
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\{12345678-1234-1234-1234-123456789ABC}"), 0u);
    ASSERT_EQ(reg.CreateKey(u"K"), 0u);
    ASSERT_EQ(RegSetString(reg, u"K", odd, u"v"), 0u);
    std::vector<std::u16string> names;
    ASSERT_EQ(reg.EnumValues(u"K", names), 0u);
    EXPECT_EQ(names, std::vector<std::u16string> {odd});
    ASSERT_EQ(reg.EnumSubkeys(u"SOFTWARE\\Tovrel\\Pair", names), 0u);
    EXPECT_EQ(names, std::vector<std::u16string> {u"{12345678-1234-1234-1234-123456789ABC}"});
}

TEST_F(PosixRegistryTest, ValueFileOfForeignFormatIsInvalidData) {
    ASSERT_EQ(reg.CreateKey(u"K"), 0u);
    std::ofstream(dir.Path("registry/K/=short")) << "ab";
    RegValue v;
    EXPECT_EQ(reg.QueryValue(u"K", u"short", v, 10), 13u);
}

TEST_F(PosixRegistryTest, DeleteKeyRemovesTheSubtree) {
    ASSERT_EQ(reg.CreateKey(u"A\\B\\C"), 0u);
    ASSERT_EQ(RegSetDword(reg, u"A\\B", u"x", 1), 0u);
    EXPECT_EQ(reg.DeleteKey(u"a\\b"), 0u);
    EXPECT_EQ(reg.OpenKey(u"A\\B\\C"), 2u);
    EXPECT_EQ(reg.OpenKey(u"A"), 0u);
}

}  // namespace
}  // namespace corvane
