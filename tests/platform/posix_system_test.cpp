#include <gtest/gtest.h>

#include "platform/posix/posix_system.h"
#include "platform/posix/posix_sockets.h"
#include "platform/text.h"

namespace corvane {
namespace {

using posix::PosixSystem;

TEST(PosixSystem, ComputerNamesFromTheHostName) {
    const struct {
        const char* fqdn;
        const char16_t* netbios;
        const char16_t* domain;
    } cases[] = {
        {"ws-17.corp.example.com", u"WS-17", u"corp.example.com"},
        {"standalone", u"STANDALONE", u""},
        {"averyveryverylongname.lan", u"AVERYVERYVERYLO", u"lan"},  // cut to 15 characters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PosixSystem::NetBiosNameFromHost(c.fqdn), c.netbios) << c.fqdn;
        EXPECT_EQ(PosixSystem::DnsDomainFromHost(c.fqdn), c.domain) << c.fqdn;
    }
}

TEST(PosixSystem, UiLanguageFromTheLocaleVariables) {
    const struct {
        const char* label;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        uint16_t expected;
    } cases[] = {
        {"traditional chinese", nullptr, nullptr, "zh_TW.UTF-8", 0x0404},
        {"simplified chinese", nullptr, "zh_CN.UTF-8", "en_US.UTF-8", 0x0804},
        {"LC_ALL wins", "en_GB.UTF-8", "zh_CN.UTF-8", "zh_TW.UTF-8", 0x0409},
        {"empty LC_ALL is skipped", "", nullptr, "zh_CN", 0x0804},
        {"nothing set", nullptr, nullptr, nullptr, 0x0409},
        {"other language", nullptr, nullptr, "de_DE.UTF-8", 0x0409},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PosixSystem::LanguageFromLocale(c.lcAll, c.lcMessages, c.lang), c.expected) << c.label;
    }
}

TEST(PosixSystem, GuidsAreVersionFourAndDistinct) {
    PosixSystem system(posix::StateRoot::At("/nonexistent"));
    Guid a, b;
    ASSERT_EQ(system.CreateGuid(a), 0u);
    ASSERT_EQ(system.CreateGuid(b), 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.data3 >> 12, 4);
}

TEST(PosixSystem, FolderLayoutUnderTheStateRoot) {
    PosixSystem system(posix::StateRoot::At("/srv/root/"));
    std::u16string folder;
    system.GetProgramDataFolder(folder);
    EXPECT_EQ(folder, u"/srv/root/var/lib/corvane");
    system.GetSystemDirectory(folder);
    EXPECT_EQ(folder, u"/srv/root/var/log/corvane");
    EXPECT_EQ(system.JoinPath(u"/a/b", u"Corvane\\Corvane.dat"), u"/a/b/Corvane/Corvane.dat");
}

TEST(PosixSockets, CleanupReleasesEveryReferenceThenFails) {
    posix::PosixSockets sockets;
    sockets.Startup();
    sockets.Startup();
    EXPECT_EQ(sockets.Cleanup(), 0);
    EXPECT_EQ(sockets.Cleanup(), 0);
    EXPECT_EQ(sockets.Cleanup(), WsaError::NotInitialised);
}

}  // namespace
}  // namespace corvane
