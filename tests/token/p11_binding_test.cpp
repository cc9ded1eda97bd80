// The PKCS#11 binding and the slot table against SoftHSM2 behind the test token module.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text.h"
#include "token/p11_error.h"
#include "token/p11_names.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

class BindingTest : public ::testing::Test {
protected:
    TokenWorld world;
    CP11Binding& binding = world.tokens.Binding();
};

TEST_F(BindingTest, MissingLibraryValueFailsAndTheSlotListSaysSo) {
    EXPECT_EQ(binding.InitP11(), TokenError::NteFail);
    EXPECT_FALSE(binding.IsInitialised());
    ReplyArena arena;
    TokenReply reply;
    EXPECT_EQ(world.tokens.Requests().HandleSlotList(nullptr, 0, arena, reply), TokenError::NteFail);
    EXPECT_EQ(binding.FinP11(), 0u);  // never initialised: nothing to do
}

TEST_F(BindingTest, LibraryThatCannotServeIsRefusedAndRetried) {
    struct Case {
        const char* label;
        std::string path;
    } cases[] = {
        {"no such file", world.platform.Root() + "/missing.so"},
        {"empty path", ""},
        {"no C_GetFunctionList", "libz.so.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TokenWorld fresh;
        fresh.SetLibrary(c.path);
        EXPECT_EQ(fresh.tokens.Binding().InitP11(), TokenError::NteProviderDllFail);
        EXPECT_EQ(fresh.tokens.Binding().RefreshSlots(), TokenError::NteProviderDllFail);
        EXPECT_EQ(fresh.tokens.Binding().Functions(), nullptr);
    }
}

TEST_F(BindingTest, SlotsAreListedWithTrimmedDescriptionsAndSerials) {
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    ASSERT_EQ(binding.InitP11(), 0u);
    ASSERT_EQ(binding.SlotCount(), 2u);  // the token and SoftHSM2's free slot
    P11Slot& slot = binding.SlotAt(0);
    EXPECT_TRUE(slot.TokenPresent());
    EXPECT_EQ(slot.Description().rfind("SoftHSM slot ID 0x", 0), 0u) << slot.Description();
    EXPECT_NE(slot.Description().back(), ' ');
    EXPECT_TRUE(slot.SerialKnown());
    uint8_t entry[SlotEntry::kSize];
    slot.EncodeEntry(entry);
    EXPECT_EQ(ReadU32(entry), slot.SlotId());
    EXPECT_EQ(ReadU32(entry + 4), 1u);
    EXPECT_EQ(entry[SlotEntry::kDescriptionOffset + slot.Description().size()], 0);
    // The working session was opened when the token was found.
    EXPECT_NE(slot.m_hSession, 0u);
}

TEST_F(BindingTest, InitialisationIsIdempotentAndFinalisationEndsTheEventThread) {
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    ASSERT_EQ(binding.InitP11(), 0u);
    EXPECT_EQ(binding.InitP11(), 0u);
    EXPECT_FALSE(binding.EventThreadFinished());
    EXPECT_EQ(binding.FinP11(), 0u);
    EXPECT_TRUE(binding.EventThreadFinished());
    EXPECT_FALSE(binding.IsInitialised());
    EXPECT_FALSE(binding.SlotAt(0).SerialKnown());
    // A later initialisation starts again from C_Initialize with the library still loaded.
    EXPECT_EQ(binding.InitP11(), 0u);
    EXPECT_TRUE(binding.SlotAt(0).TokenPresent());
}

TEST_F(BindingTest, RemovalAndInsertionArriveThroughTheEventThread) {
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    ASSERT_EQ(binding.InitP11(), 0u);
    P11Slot& slot = binding.SlotAt(0);
    const uint32_t id = slot.SlotId();
    uint8_t serial[16];
    slot.GetSerial(serial);

    world.SetPresent(id, false);
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return !slot.TokenPresent() && !slot.SerialKnown(); }));
    EXPECT_EQ(slot.m_hSession, 0u);

    world.SetPresent(id, true);
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return slot.TokenPresent() && slot.SerialKnown(); }));
    uint8_t again[16];
    slot.GetSerial(again);
    EXPECT_EQ(std::memcmp(serial, again, 16), 0);
}

TEST_F(BindingTest, PollTokenReportsPresenceAndNeedsTheBinding) {
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    uint32_t present = 7;
    EXPECT_EQ(binding.PollToken(binding.SlotAt(0), &present), TokenError::NteFail);
    ASSERT_EQ(binding.InitP11(), 0u);
    EXPECT_EQ(binding.PollToken(binding.SlotAt(0), &present), 0u);
    EXPECT_EQ(present, 1u);
}

TEST_F(BindingTest, SoftHsmDirectlyServesWithoutSlotEventsAndStopsCleanly) {
    // SoftHSM2 answers C_WaitForSlotEvent at once with an error: the event thread pauses
    // between calls instead of spinning, and finalisation still ends it.
    world.MakeToken("alpha");
    world.SetLibrary(kSoftHsmLibrary);
    ASSERT_EQ(binding.InitP11(), 0u);
    EXPECT_TRUE(binding.SlotAt(0).TokenPresent());
    ASSERT_TRUE(TokenWorld::WaitFor([&] { return world.platform.clock.SleptMilliseconds() >= 2000; }));
    const uint64_t sleeps = world.platform.clock.SleepCount();
    EXPECT_GE(world.platform.clock.SleptMilliseconds(), sleeps * 10);
    EXPECT_EQ(binding.FinP11(), 0u);
    EXPECT_TRUE(binding.EventThreadFinished());
}

TEST_F(BindingTest, FindSlotByNameMatchesEitherEndOfALongReaderNameIgnoringCase) {
    world.MakeToken("alpha");
    world.UseTestTokenModule();
    ASSERT_EQ(binding.InitP11(), 0u);
    const uint32_t tokenSlot = binding.SlotAt(0).SlotId();
    const uint32_t id = binding.SlotAt(1).SlotId();
    ASSERT_EQ(binding.FinP11(), 0u);
    // A reader name of 84 characters whose 63rd and 64th are blanks. The module keeps the first
    // 64 characters of a description, as libraries built on the resource manager do with a long
    // reader name.
    const std::string longReader = "Front Panel Reader " + std::string(43, 'k') + "  [Interface 01] 00 00";
    ASSERT_EQ(longReader.size(), 84u);
    world.SetDescription(tokenSlot, longReader);
    // Records are filled once, when first listed: a fresh slot table reads the new descriptions.
    world.SetDescription(id, "Reader " + std::string(57, 'x'));
    CTokenAccess fresh(world.platform.Get());
    CP11Binding& b = fresh.Binding();
    ASSERT_EQ(b.InitP11(), 0u);
    EXPECT_EQ(b.FindSlotById(tokenSlot)->Description(), longReader.substr(0, 62));
    auto upper = [](std::string text) {
        for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        return text;
    };
    const struct {
        const char* label;
        std::string name;
        uint32_t slotId;  // 0: none
    } cases[] = {
        {"last 64 of 70 characters", "PREFIX" + std::string("reader ") + std::string(57, 'X'), id},
        {"first 64 of 84 characters", upper(longReader), tokenSlot},
        {"the description itself", longReader.substr(0, 62), tokenSlot},
        {"neither end", "X" + longReader.substr(1), 0},
        {"no such reader", "no such reader", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        P11Slot* found = b.FindSlotByName(c.name);
        EXPECT_EQ(found ? found->SlotId() : 0u, c.slotId);
    }
    P11Slot* found = b.FindSlotById(id);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Description().size(), 64u);
    uint8_t entry[SlotEntry::kSize];
    found->EncodeEntry(entry);
    EXPECT_EQ(entry[SlotEntry::kDescriptionOffset + 64], 0);
    // The card in the long-named reader is known by its token's serial.
    uint8_t serial[SlotEntry::kSerialSize] = {};
    P11Slot* cardSlot = b.FindSlotByName(Utf8ToUtf16(longReader));
    ASSERT_NE(cardSlot, nullptr);
    ASSERT_EQ(b.ReadTokenSerial(*cardSlot, serial), 0u);
    EXPECT_NE(serial[0], 0);
    EXPECT_EQ(b.FindSlotByName(std::u16string(u"no such reader")), nullptr);
    b.FinP11();
    world.platform.threads.JoinAll();
}

TEST(SlotMutexNames, BlanksAndSlashesBecomeUnderscores) {
    EXPECT_EQ(SlotMutexPart("a b\\c/d"), "a_b_c_d");
    EXPECT_EQ(SlotMutexName(""), u"Global\\Vexmor.PKCS11.Slot.");
    EXPECT_EQ(ContainerMutexName("My Reader 0"), u"Vexmor.PKCS11.Container.My_Reader_0");
}

TEST(MapP11Error, TranslatesEachListedResult) {
    const struct {
        unsigned long rv;
        uint32_t expected;
    } cases[] = {
        {0x000, 0},          {0x001, 0x8010006E}, {0x002, 0x8009000E}, {0x031, 0x8009000E}, {0x003, 87},
        {0x007, 87},         {0x020, 0x80090005}, {0x021, 0x80090005}, {0x054, 0x80090029}, {0x0A0, 0x8010002A},
        {0x0A2, 0x8010002A}, {0x0A4, 0x8010006C}, {0x0E0, 0x8010000D}, {0x101, 0x8010006F}, {0x150, 234},
        {0x030, 0x80090020}, {0x190, 0x80090020}, {0xFFFFFFFF, 0x80090020},
    };
    for (const auto& c : cases) EXPECT_EQ(MapP11Error(c.rv), c.expected) << std::hex << c.rv;
}

}  // namespace
}  // namespace corvane::test
