// The host key in a real CryptoAPI key container: the second start of the service places the key
// pair it generated and stored on the first start in the container named by the host GUID, where
// the system's provider holds it as the container's exchange key.
#include "platform/win32/win32_key_containers.h"

#include <gtest/gtest.h>

#include "platform/win32/win32_api.h"

#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/host_key.h"
#include "crypto/rsa.h"
#include "platform/guid_text.h"
#include "platform/text.h"
#include "platform/win32/win32_system.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

std::vector<uint8_t> ModulusOf(RsaHandle key) {
    uint32_t size = 0;
    EXPECT_EQ(RsaExport(key, RsaFormat::Modulus, nullptr, &size), 0);
    std::vector<uint8_t> modulus(size);
    EXPECT_EQ(RsaExport(key, RsaFormat::Modulus, modulus.data(), &size), 0);
    return modulus;
}

// The modulus of the container's exchange key, most significant byte first; empty when the
// container or its key cannot be read.
std::vector<uint8_t> ContainerModulus(const std::wstring& container) {
    std::vector<uint8_t> modulus;
    HCRYPTPROV prov = 0;
    if (!::CryptAcquireContextW(&prov, container.c_str(), MS_STRONG_PROV_W, PROV_RSA_FULL, 0)) return modulus;
    HCRYPTKEY key = 0;
    if (::CryptGetUserKey(prov, AT_KEYEXCHANGE, &key)) {
        DWORD size = 0;
        if (::CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
            std::vector<BYTE> blob(size);
            if (::CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size)) {
                // BLOBHEADER, RSAPUBKEY, then the modulus least significant byte first.
                const size_t offset = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
                const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
                const size_t length = rsa->bitlen / 8;
                if (offset + length <= size) {
                    modulus.assign(blob.begin() + offset, blob.begin() + offset + length);
                    std::reverse(modulus.begin(), modulus.end());
                }
            }
        }
        ::CryptDestroyKey(key);
    }
    ::CryptReleaseContext(prov, 0);
    return modulus;
}

void DeleteContainer(const std::wstring& container) {
    HCRYPTPROV prov = 0;
    ::CryptAcquireContextW(&prov, container.c_str(), MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

TEST(Win32KeyContainers, TheSecondStartImportsTheHostKeyIntoTheContainerOfTheHostGuid) {
    test::TestPlatform tp;
    win32::Win32KeyContainers containers;
    tp.Get().keyContainers = &containers;
    Configuration config;
    // A container of this test's own, named like a host GUID.
    Guid guid {};
    ASSERT_EQ(win32::Win32System().CreateGuid(guid), 0u);
    config.g_strHostGuid = FormatGuid(guid);
    const std::wstring container(config.g_strHostGuid.begin(), config.g_strHostGuid.end());
    DeleteContainer(container);

    HostKey first;
    ASSERT_EQ(LoadHostKey(tp.Get(), config, first), 0u);
    EXPECT_TRUE(ContainerModulus(container).empty()) << "the first start only generates and stores the key";

    HostKey second;
    ASSERT_EQ(LoadHostKey(tp.Get(), config, second), 0u);
    const std::vector<uint8_t> modulus = ModulusOf(second.g_hostKey.Get());
    EXPECT_EQ(modulus, ModulusOf(first.g_hostKey.Get()));
    EXPECT_EQ(modulus.size(), 256u);
    EXPECT_EQ(ContainerModulus(container), modulus);
    for (const std::string& line : tp.DiagnosticLines()) {
        EXPECT_EQ(line.find("container"), std::string::npos) << line;
    }
    DeleteContainer(container);
}

}  // namespace
}  // namespace corvane
