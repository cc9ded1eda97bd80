#include "platform/win32/win32_registry.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

// Each test works below a key of its own under HKLM\SOFTWARE\CorvaneTests, removed afterwards.
class Win32RegistryTest : public ::testing::Test {
protected:
    Win32RegistryTest() : m_name(Utf8ToUtf16(m_dir.Path().substr(m_dir.Path().rfind('/') + 1))),
                          m_reg(u"SOFTWARE\\CorvaneTests\\" + m_name) {}
    ~Win32RegistryTest() override { win32::Win32Registry(u"SOFTWARE\\CorvaneTests").DeleteKey(m_name); }

    test::TempDir m_dir;  // only for its unique name
    std::u16string m_name;
    win32::Win32Registry m_reg;
};

TEST_F(Win32RegistryTest, ValuesOfEachTypeRoundTrip) {
    ASSERT_EQ(m_reg.CreateKey(u"SOFTWARE\\Tovrel\\LogonOptions\\"), 0u);
    ASSERT_EQ(RegSetString(m_reg, u"SOFTWARE\\Tovrel", u"HostGUID", u"{01234567-89AB-CDEF-0123-456789ABCDEF}"), 0u);
    ASSERT_EQ(RegSetDword(m_reg, u"SOFTWARE\\Tovrel\\LogonOptions", u"LogonPortTCP", 0x12345), 0u);
    ASSERT_EQ(RegSetBinary(m_reg, u"SOFTWARE\\Tovrel", u"RSAKey", {1, 2, 3, 0, 255}), 0u);

    std::u16string text;
    EXPECT_EQ(RegQueryString(m_reg, u"software\\tovrel", u"hostguid", text, 80), 0u) << "names ignore case";
    EXPECT_EQ(text, u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
    uint32_t port = 0;
    EXPECT_EQ(RegQueryDword(m_reg, u"SOFTWARE\\Tovrel\\LogonOptions\\", u"LogonPortTCP", port), 0u);
    EXPECT_EQ(port, 0x12345u);
    RegValue value;
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel", u"RSAKey", value, 64), 0u);
    EXPECT_EQ(value.type, RegType::Binary);
    EXPECT_EQ(value.data, (std::vector<uint8_t> {1, 2, 3, 0, 255}));
    value = {};
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel", u"HostGUID", value, 80), 0u);
    EXPECT_EQ(value.type, RegType::Sz);
    EXPECT_EQ(value.data.size(), 78u) << "REG_SZ keeps its terminating NUL";
}

TEST_F(Win32RegistryTest, MissingKeysValuesAndSmallBuffersAreReported) {
    ASSERT_EQ(m_reg.CreateKey(u"SOFTWARE\\Tovrel"), 0u);
    ASSERT_EQ(RegSetString(m_reg, u"SOFTWARE\\Tovrel", u"LibPkcs11", u"C:\\Windows\\System32\\token.dll"), 0u);

    RegValue value;
    EXPECT_EQ(m_reg.OpenKey(u"SOFTWARE\\Tovrel\\Pair"), WinError::FileNotFound);
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel\\Pair", u"x", value, 4), WinError::FileNotFound);
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel", u"Missing", value, 4), WinError::FileNotFound);
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel", u"LibPkcs11", value, 8), WinError::MoreData);
    EXPECT_EQ(value.type, RegType::Sz);
    EXPECT_EQ(m_reg.QueryValue(u"SOFTWARE\\Tovrel", u"LibPkcs11", value, 0), WinError::MoreData);
    EXPECT_EQ(RegSetDword(m_reg, u"SOFTWARE\\Tovrel\\Pair", u"x", 1), WinError::FileNotFound)
        << "a value is never set on a key that does not exist";
}

TEST_F(Win32RegistryTest, SubkeysEnumerateInTheirOriginalCaseAndDeleteWithEverythingBelow) {
    ASSERT_EQ(m_reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\{AAAAAAAA-0000-0000-0000-000000000001}\\Inner"), 0u);
    ASSERT_EQ(m_reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\NotAGuid"), 0u);
    ASSERT_EQ(RegSetDword(m_reg, u"SOFTWARE\\Tovrel\\Pair", u"Count", 2), 0u);

    std::vector<std::u16string> names;
    ASSERT_EQ(m_reg.EnumSubkeys(u"SOFTWARE\\Tovrel\\Pair", names), 0u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string> {u"NotAGuid", u"{AAAAAAAA-0000-0000-0000-000000000001}"}));
    ASSERT_EQ(m_reg.EnumValues(u"SOFTWARE\\Tovrel\\Pair", names), 0u);
    EXPECT_EQ(names, std::vector<std::u16string> {u"Count"});

    EXPECT_EQ(m_reg.DeleteValue(u"SOFTWARE\\Tovrel\\Pair", u"Count"), 0u);
    EXPECT_EQ(m_reg.DeleteValue(u"SOFTWARE\\Tovrel\\Pair", u"Count"), WinError::FileNotFound);
    EXPECT_EQ(m_reg.DeleteKey(u"SOFTWARE\\Tovrel\\Pair"), 0u);
    EXPECT_EQ(m_reg.OpenKey(u"SOFTWARE\\Tovrel\\Pair"), WinError::FileNotFound);
    EXPECT_EQ(m_reg.OpenKey(u"SOFTWARE\\Tovrel"), 0u);
    EXPECT_EQ(m_reg.DeleteKey(u""), WinError::AccessDenied) << "the base key itself is never deleted";
}

TEST(Win32RegistryPath, JoinsBaseAndPathWithoutEmptyParts) {
    EXPECT_EQ(win32::Win32Registry(u"SOFTWARE\\Base\\").FullPath(u"SOFTWARE\\Tovrel\\LogonOptions\\"),
              L"SOFTWARE\\Base\\SOFTWARE\\Tovrel\\LogonOptions");
    EXPECT_EQ(win32::Win32Registry().FullPath(u"SOFTWARE\\Tovrel"), L"SOFTWARE\\Tovrel");
}

}  // namespace
}  // namespace corvane
