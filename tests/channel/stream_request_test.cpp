// The request table of the stream channel, driven in-process: length checks and their codes,
// each request's action and reply, and the session protection around them.
#include <gtest/gtest.h>

#include <string>

#include "lan_messages.h"
#include "stream_world.h"
#include "support/phone_keys.h"

namespace corvane::test {
namespace {

std::vector<uint8_t> U16(std::initializer_list<uint16_t> units) {
    std::vector<uint8_t> out;
    for (uint16_t u : units) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}
std::vector<uint8_t> Utf16Z(std::u16string_view text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}
std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<uint8_t> Count(uint32_t n) { return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)}; }
std::vector<uint8_t> DeviceId(const std::string& id) {
    std::vector<uint8_t> slot(40, 0);
    std::copy(id.begin(), id.end(), slot.begin());
    return slot;
}
std::vector<uint8_t> Inner(uint16_t code, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> m(8);
    MsgHeader {code, static_cast<uint16_t>(payload.size()), 0}.Encode(m.data());
    return Concat(m, payload);
}
std::vector<uint8_t> TokenOperation(uint16_t subOpcode, uint16_t subLength, size_t dataSize) {
    std::vector<uint8_t> p(12 + dataSize, 0);
    WriteU16(p.data() + 4, subOpcode);
    WriteU16(p.data() + 6, subLength);
    return p;
}

struct Case {
    const char* label;
    uint16_t code;
    uint32_t status;
    std::vector<uint8_t> payload;
    uint16_t replyCode;
    uint32_t replyStatus;
};

class StreamRequestTest : public ::testing::TestWithParam<Case> {};

// Every request whose payload breaks its layout gets its error header (length 0), and so do the
// device and token requests while those layers are absent.
TEST_P(StreamRequestTest, AnswersWithTheErrorHeader) {
    StreamWorld w;
    const Case& c = GetParam();
    const StreamAnswer a = w.Request(c.code, c.status, c.payload);
    EXPECT_EQ(a.header.code, c.replyCode);
    EXPECT_EQ(a.header.length, 0);
    EXPECT_EQ(a.header.status, c.replyStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamRequestTest,
    ::testing::Values(
        Case {"NetListWithPayload", 0x4001, 0, {1}, 0xC001, 0x80090020},
        Case {"PairedListShorterThanItsCount", 0x4004, 0, {1, 0, 0}, 0xC004, 0x80090020},
        Case {"PairedCountLargerThanTheStrings", 0x4004, 0, Concat(Count(2), Utf16Z(u"a")), 0xC004, 0x80090020},
        Case {"PairedStringWithoutItsNul", 0x4004, 0, Concat(Count(1), U16({'a', 'b'})), 0xC004, 0x80090020},
        Case {"PairedHugeCount", 0x4004, 0, Concat(Count(0xFFFFFFFF), Utf16Z(u"a")), 0xC004, 0x80090020},
        Case {"StateWithoutName", 0x4005, 2, {}, 0xC005, 0x80090020},
        Case {"StateNameWithoutNul", 0x4005, 2, U16({'a', 'b'}), 0xC005, 0x80090020},
        Case {"StateBytesAfterTheNul", 0x4005, 2, Concat(Utf16Z(u"ab"), U16({'c'})), 0xC005, 0x80090020},
        Case {"StateOddLength", 0x4005, 2, {'a', 0, 0}, 0xC005, 0x80090020},
        Case {"CloseDeviceShortId", 0x4006, 0, std::vector<uint8_t>(39, 'x'), 0xC006, 0x80090004},
        Case {"CloseDeviceNotFound", 0x4006, 0, DeviceId("phone-1"), 0xC006, 1167},
        Case {"BleRestartWithPayload", 0x4007, 0, {1}, 0xC007, 0x80090004},
        Case {"PcManagerWithPayload", 0x4008, 0, {1}, 0xC008, 0x80090004},
        Case {"PhoneListStatusZeroWithPayload", 0x4101, 0, {1, 0}, 0xC101, 0x80090020},
        Case {"PhoneListStateWithoutNul", 0x4101, 3, U16({'a'}), 0xC101, 0x80090020},
        Case {"BleStatusWithPayload", 0x4103, 0, {1}, 0xC103, 0x80090004},
        Case {"PortsTooShort", 0x4201, 0, {1, 2, 3}, 0xC201, 0x80090004},
        Case {"PortsTooLong", 0x4201, 0, {1, 2, 3, 4, 5}, 0xC201, 0x80090004},
        Case {"RelayShorterThanIdAndHeader", 0x5101, 0, std::vector<uint8_t>(47, 0), 0xD101, 0x80090004},
        Case {"RelayInnerReplyCode", 0x5101, 0, Concat(DeviceId("p"), Inner(0xA001, {})), 0xD101, 0x80090005},
        Case {"RelayDeviceNotFound", 0x5101, 0, Concat(DeviceId("p"), Inner(0x2001, {7})), 0xA001, 1167},
        Case {"DeviceSessionsShortId", 0x5111, 0, {1}, 0xD111, 0x80090004},
        Case {"DeviceSessionsNotFound", 0x5111, 0, DeviceId("phone-1"), 0xD111, 1167},
        Case {"SlotListWithPayload", 0x7001, 0, {1}, 0xF001, 0x80090005},
        Case {"SlotListWithoutLibrary", 0x7001, 0, {}, 0xF001, 0x8009001D},
        Case {"SlotStateShort", 0x7002, 0, {1, 0, 0}, 0xF002, 0x80090005},
        Case {"SlotStateWithoutLibrary", 0x7002, 0, {1, 0, 0, 0}, 0xF002, 0x80090011},
        Case {"TokenOperationWithoutSubOpcode", 0x7011, 0, std::vector<uint8_t>(11, 0), 0xF011, 0x80090004},
        Case {"TokenSubLengthOneShort", 0x7011, 0, TokenOperation(0x2002, 4, 3), 0xA002, 0x80090004},
        Case {"TokenSubOpcodeWithReplyBit", 0x7011, 0, TokenOperation(0x8002, 0, 0), 0x8002, 0x80090005},
        Case {"TokenWithoutLibrary", 0x7011, 0, TokenOperation(0x2002, 4, 4), 0xA002, 0x8010000C},
        Case {"ReportThatFailsItsSizeCheck", 0x3013, 0, std::vector<uint8_t>(140, 0), 0xB013, 0x80090020},
        Case {"UnknownCode", 0x4444, 0, {}, 0xC444, 0x80090029}),
    [](const auto& info) { return std::string(info.param.label); });

// The inner length of a relay that does not match its envelope is a bad length too (the table
// above cannot write the status it expects without the bytes that make the mismatch).
TEST(StreamRequests, RelayWhoseInnerLengthDisagreesWithTheEnvelopeIsABadLength) {
    StreamWorld w;
    std::vector<uint8_t> payload = Concat(DeviceId("p"), Inner(0x2001, {1, 2}));
    payload.pop_back();
    EXPECT_EQ(w.Request(0x5101, 0, payload).header.status, 0x80090004u);
}

TEST(StreamRequests, BleStatusQueryAnswersWithTheRecordInPlainAndKeyed) {
    StreamWorld w;
    StreamAnswer a = w.Request(0x4103);
    EXPECT_EQ(a.header.code, 0xC103);
    EXPECT_EQ(a.header.length, 28);
    EXPECT_EQ(a.header.status, 0u);
    EXPECT_EQ(a.payload, std::vector<uint8_t>(w.bleStatus.begin(), w.bleStatus.end()));

    w.Key();
    a = w.Request(0x4103);
    EXPECT_EQ(a.header.length, 32);  // 28 bytes and four of padding
    EXPECT_EQ(a.payload, std::vector<uint8_t>(w.bleStatus.begin(), w.bleStatus.end()));
}

TEST(StreamRequests, PortsThatAreZeroLeaveTheirValue) {
    StreamWorld w;
    w.config.g_wLogonPortTcp = 5000;
    const StreamAnswer a = w.Request(0x4201, 0, {0, 0, 0x70, 0x17});
    EXPECT_EQ(a.header.code, 0xC201);
    EXPECT_EQ(a.header.length, 0);
    EXPECT_EQ(a.header.status, 0u);
    EXPECT_EQ(w.config.g_wLogonPortTcp.load(), 5000);
    EXPECT_EQ(w.config.g_wLogonPortUdp.load(), 6000);
}

TEST(StreamRequests, ForwardingIsSwitchedOnAndOff) {
    StreamWorld w;
    EXPECT_EQ(w.Request(0x4002, 0, {9, 9}).header.status, 0u);
    EXPECT_TRUE(w.forwardEnabled);
    EXPECT_EQ(w.Request(0x4003).header.code, 0xC003);
    EXPECT_FALSE(w.forwardEnabled);
}

TEST(StreamRequests, PairedListIsReplacedWholeAndAMalformedOneLeavesItAlone) {
    StreamWorld w;
    w.config.g_pairedDevices = {u"old"};
    EXPECT_EQ(w.Request(0x4004, 0, Concat(Count(2), Concat(Utf16Z(u"{A}"), Utf16Z(u"{B}")))).header.status, 0u);
    EXPECT_EQ(w.config.g_pairedDevices, (std::vector<std::u16string> {u"{A}", u"{B}"}));

    EXPECT_EQ(w.Request(0x4004, 0, Concat(Count(3), Utf16Z(u"{C}"))).header.status, 0x80090020u);
    EXPECT_EQ(w.config.g_pairedDevices.size(), 2u);

    EXPECT_EQ(w.Request(0x4004, 0, Count(0)).header.status, 0u);
    EXPECT_TRUE(w.config.g_pairedDevices.empty());
}

TEST(StreamRequests, StateReportSetsStateAndUserAndEchoesTheFirstCodeUnit) {
    StreamWorld w;
    const StreamAnswer a = w.Request(0x4005, 0x00070002, Utf16Z(u"anna"));
    EXPECT_EQ(a.header.code, 0xC005);
    EXPECT_EQ(a.header.length, 2);
    EXPECT_EQ(a.header.status, 0x00070002u);
    EXPECT_EQ(a.payload, (std::vector<uint8_t> {'a', 0}));
    EXPECT_EQ(w.logonState.GetLogonComponentState(), 2);
    EXPECT_EQ(w.logonState.GetLogonComponentUser(), u"anna");
    // The state to publish changed from 0 to 2: published once; the same report again changes nothing.
    EXPECT_EQ(w.publications, 1);
    w.Request(0x4005, 2, Utf16Z(u"anna"));
    EXPECT_EQ(w.publications, 1);
}

TEST(StreamRequests, PhoneListTakesALogonInProgressOnlyFromTheLogonScreen) {
    StreamWorld w;
    w.logonState.SetLogonComponent(1, u"before");
    StreamAnswer a = w.Request(0x4101, 4, Utf16Z(u"anna"));
    EXPECT_EQ(a.header.code, 0xC101);
    EXPECT_EQ(a.header.status, 0u);
    EXPECT_EQ(a.payload, (std::vector<uint8_t> {0, 0}));  // no phones
    EXPECT_EQ(w.logonState.GetLogonComponentState(), 1);
    EXPECT_EQ(w.logonState.GetLogonComponentUser(), u"before");

    w.logonState.SetLogonComponent(3, u"");
    w.Request(0x4101, 4, Utf16Z(u"anna"));
    EXPECT_EQ(w.logonState.GetLogonComponentState(), 4);
    EXPECT_EQ(w.logonState.GetLogonComponentUser(), u"anna");

    a = w.Request(0x4101, 0, {});
    EXPECT_EQ(a.header.length, 2);
}

TEST(StreamRequests, NetworkDeviceListIsTheTablesList) {
    StreamWorld w;
    w.table.AnnounceNetDevice(u"phone-1", u"Anna's phone", 45452, 7, u"192.168.1.20");
    const StreamAnswer a = w.Request(0x4001);
    EXPECT_EQ(a.header.code, 0xC001);
    EXPECT_EQ(a.header.status, 0u);
    ASSERT_GE(a.payload.size(), 2u);
    EXPECT_EQ(ReadU16(a.payload.data()), 1);
}

TEST(StreamRequests, AWellFormedLogonReportIsRecordedAndAnsweredEmpty) {
    StreamWorld w;
    std::vector<LogonResultReport> audited;
    w.reports.Hooks().InsertLogonResultAudit = [&](const LogonResultReport& r) { audited.push_back(r); };
    lan::LogonReportFields f;
    f.devType = 2;
    f.operation = 1;
    f.devGuid = "phone-1";
    f.userName = "anna";
    f.logonServer = "CORP";
    const std::vector<uint8_t> report = lan::BuildLogonReport(f);
    const StreamAnswer a = w.Request(0x3013, 0, std::vector<uint8_t>(report.begin() + 8, report.end()));
    EXPECT_EQ(a.header.code, 0xB013);
    EXPECT_EQ(a.header.length, 0);
    EXPECT_EQ(a.header.status, 0u);
    ASSERT_EQ(audited.size(), 1u);
    EXPECT_EQ(audited[0].userName, u"anna");
}

struct BadCipherCase {
    const char* label;
    std::vector<uint8_t> body;
};

class StreamBadCipherTest : public ::testing::TestWithParam<BadCipherCase> {};

// A keyed request whose payload does not decrypt gets 0x80090005, and the connection goes on.
TEST_P(StreamBadCipherTest, IsBadDataAndTheConnectionStaysUsable) {
    StreamWorld w;
    w.Key();
    const auto& c = GetParam();
    const StreamAnswer bad = w.Raw(0x4201, 0, c.body, static_cast<uint16_t>(c.body.size()));
    EXPECT_EQ(bad.header.code, 0xC201);
    EXPECT_EQ(bad.header.length, 0);
    EXPECT_EQ(bad.header.status, 0x80090005u);
    EXPECT_EQ(w.Request(0x4103).payload.size(), 28u);
}

std::vector<uint8_t> BadPadding() {
    // A block whose last byte, once decrypted, is 0x09: not a padding of an 8-byte block.
    std::vector<uint8_t> plain(8, 0x09);
    auto cipher = CSessionCipher::Create(kTestSessionKey);
    std::vector<uint8_t> full(16);
    size_t size = 0;
    cipher->Encrypt(plain.data(), plain.size(), full.data(), size);
    return std::vector<uint8_t>(full.begin(), full.begin() + 8);
}

INSTANTIATE_TEST_SUITE_P(Table, StreamBadCipherTest,
                         ::testing::Values(BadCipherCase {"NotAMultipleOfEight", std::vector<uint8_t>(12, 0x55)},
                                           BadCipherCase {"BadPadding", BadPadding()}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(StreamRequests, KeyedRequestsAreDecryptedAndEmptyRepliesStayEmpty) {
    StreamWorld w;
    w.Key();
    const StreamAnswer a = w.Request(0x4201, 0, {0x39, 0x30, 0, 0});
    EXPECT_EQ(a.header.length, 0);
    EXPECT_EQ(a.header.status, 0u);
    EXPECT_EQ(w.config.g_wLogonPortTcp.load(), 12345);
}

struct KeyExchangeCase {
    const char* label;
    std::vector<uint8_t> payload;
    uint32_t status;
};

class StreamKeyExchangeFailureTest : public ::testing::TestWithParam<KeyExchangeCase> {};

// A failed key exchange answers its error and leaves the connection plain, even a keyed one.
TEST_P(StreamKeyExchangeFailureTest, LeavesTheConnectionPlain) {
    StreamWorld w;
    w.Key();
    const StreamAnswer a = w.Request(0x1011, 0, GetParam().payload);
    EXPECT_EQ(a.header.code, 0x9011);
    EXPECT_EQ(a.header.status, GetParam().status);
    EXPECT_EQ(w.connection.m_nSecureState, kSecurePlain);
    EXPECT_EQ(w.Request(0x4103).header.length, 28);  // read and answered in plain
}

std::vector<uint8_t> PublicKeyRequest(uint32_t bits, uint16_t version = 2) {
    RsaHandle key = nullptr;
    RandomSource random = [](uint8_t* b, size_t n) {
        for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(std::rand());
        return 0u;
    };
    EXPECT_EQ(RsaGenerate(&key, bits, 65537, random), 0);
    uint32_t size = 0;
    RsaExport(key, RsaFormat::PublicKey, nullptr, &size);
    std::vector<uint8_t> p(2 + size);
    WriteU16(p.data(), version);
    RsaExport(key, RsaFormat::PublicKey, p.data() + 2, &size);
    p.resize(2 + size);
    RsaDestroy(key);
    return p;
}

INSTANTIATE_TEST_SUITE_P(Table, StreamKeyExchangeFailureTest,
                         ::testing::Values(KeyExchangeCase {"TooShort", {2, 0, 0x30, 0, 0, 0, 0, 0, 0, 0}, 0x80090005},
                                           KeyExchangeCase {"VersionOne", PublicKeyRequest(512, 1), 0x8009000A},
                                           KeyExchangeCase {"NotAKey", Concat({2, 0}, std::vector<uint8_t>(40, 0x30)), 0x80090005},
                                           KeyExchangeCase {"Modulus256Bits", PublicKeyRequest(256), 0x80090020},
                                           KeyExchangeCase {"Modulus1025Bytes", Concat({2, 0}, RawPublicKeyDer(1025, 3)), 0x80090020},
                                           KeyExchangeCase {"Exponent5Bytes", Concat({2, 0}, RawPublicKeyDer(128, 5)), 0x80090020}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace corvane::test
