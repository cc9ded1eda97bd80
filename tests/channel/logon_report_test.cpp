#include <gtest/gtest.h>

#include "wire/byte_order.h"
#include "wire/result_codes.h"
#include "channel_world.h"
#include "lan_messages.h"

namespace corvane {
namespace {

using lan::BuildLogonReport;
using lan::LogonReportFields;

LogonReportFields AnnasLogon() {
    LogonReportFields f;
    f.devType = 1;
    f.operation = 1;
    f.devGuid = "phone-1";
    f.secondId = "container-7";
    f.computerName = "TESTPC";
    f.logonServer = "CORP";
    f.userName = "anna";
    f.devName = "Anna's phone";
    f.logonOption = 2;
    f.logonParam = 30;
    return f;
}

// A device that is only a record: its worker never runs.
class ReaderDevice final : public CDevTovrel {
public:
    ReaderDevice(IClock& clock, std::u16string id, std::u16string name)
        : CDevTovrel(clock, std::move(id), std::move(name), DeviceKind::CardReader) {}
    void StartWorker() override { ++workersStarted; }
    uint32_t Run() override { return 0; }
    int workersStarted = 0;
};

std::vector<CLogonOpt> OptionsIn(DeviceMap& devices, const char16_t* id) {
    std::vector<CLogonOpt> options;
    if (CDevTovrel* device = devices.Find(id)) {
        options = device->CopyLogonOptions();
        DeviceMap::Release(device);
    }
    return options;
}

class LogonReportTest : public ::testing::Test {
protected:
    LogonReportTest() {
        auto& hooks = w.reports.Hooks();
        hooks.InsertLogonResultAudit = [this](const LogonResultReport& r) { audited.push_back(r); };
        hooks.WriteEventLine = [this](std::u16string_view line) { lines.emplace_back(line); };
        hooks.CreateCardReaderDevice = [this](std::u16string_view reader, std::u16string_view id) -> CDevTovrel* {
            ++created;
            return new ReaderDevice(w.platform.clock, std::u16string(id), std::u16string(reader));
        };
    }
    int32_t Report(const std::vector<uint8_t>& d) {
        return w.channel.DispatchDatagram(d.data(), d.size(), SockAddrIn::Inet(SockAddrIn::kLoopback, 40000));
    }
    size_t OptionsOf(const char16_t* id) {
        size_t n = 0;
        w.table.WithNetDevice(id, [&](const CDevNet& dev) { n = dev.m_arrLogonOpt.size(); });
        return n;
    }

    test::ChannelWorld w;
    std::vector<LogonResultReport> audited;
    std::vector<std::u16string> lines;
    int created = 0;
};

TEST_F(LogonReportTest, SuccessIsAuditedLoggedAndAttachedToTheNetworkDevice) {
    w.table.AnnounceNetDevice(u"phone-1", u"Anna's phone", 45452, 0, u"192.168.1.20");
    ASSERT_EQ(Report(BuildLogonReport(AnnasLogon())), 0);

    ASSERT_EQ(audited.size(), 1u);
    EXPECT_EQ(audited[0].userName, u"anna");
    EXPECT_EQ(audited[0].secondId, u"container-7");
    EXPECT_EQ(audited[0].logonOption, 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], u"Zentik:TESTPC|CORP\\anna|Logon|Anna's phone:phone-1|0x00000000:0x00000000|");
    w.table.WithNetDevice(u"phone-1", [](const CDevNet& dev) {
        ASSERT_EQ(dev.m_arrLogonOpt.size(), 1u);
        EXPECT_EQ(dev.m_arrLogonOpt[0]->m_strUser, u"anna");
        EXPECT_EQ(dev.m_arrLogonOpt[0]->m_strDomain, u"CORP");
        EXPECT_EQ(dev.m_arrLogonOpt[0]->m_nOption, 2);
        EXPECT_EQ(dev.m_arrLogonOpt[0]->m_nDelay, 30);
    });
    EXPECT_EQ(w.devices.Count(), 0u);
}

TEST_F(LogonReportTest, AReportFromAnotherMachineIsDroppedUnrecorded) {
    w.table.AnnounceNetDevice(u"phone-1", u"Anna's phone", 45452, 0, u"192.168.1.20");
    const std::vector<uint8_t> d = BuildLogonReport(AnnasLogon());
    for (uint32_t address : {0xC0A80114u, 0x7F000001u, 0x7F0000FEu}) {
        const int32_t expected = (address >> 24) == 127 ? 0 : Result::DatagramMalformed;
        EXPECT_EQ(w.channel.DispatchDatagram(d.data(), d.size(), SockAddrIn::Inet(address, 40000)), expected) << address;
    }
    EXPECT_EQ(audited.size(), 2u) << "only the two loopback reports";
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(LogonReportTest, ANetworkDeviceNotInTheTableIsNotCreatedButTheReportIsRecorded) {
    ASSERT_EQ(Report(BuildLogonReport(AnnasLogon())), 0);
    EXPECT_EQ(w.table.Count(), 0u);
    EXPECT_EQ(audited.size(), 1u);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(LogonReportTest, AFailedAttemptIsRecordedButAttachesNothing) {
    w.table.AnnounceNetDevice(u"phone-1", u"Anna's phone", 45452, 0, u"192.168.1.20");
    LogonReportFields f = AnnasLogon();
    f.result = 0x20000005;
    f.resultSub = 5;
    f.operation = 2;
    f.errMsg = "The console is not in a logonable state.";
    ASSERT_EQ(Report(BuildLogonReport(f)), 0);
    EXPECT_EQ(OptionsOf(u"phone-1"), 0u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              u"Zentik:TESTPC|CORP\\anna|Unlock|Anna's phone:phone-1|0x20000005:0x00000005|"
              u"The console is not in a logonable state.");
}

TEST_F(LogonReportTest, OperationNamesComeFromTheTextsAndAnUnknownOneIsEmpty) {
    w.reports.Hooks().GetText = [](uint32_t id) { return id == kTextRelogon ? std::u16string(u"Neuanmeldung") : u""; };
    const struct {
        uint16_t operation;
        const char16_t* name;
    } cases[] = {{1, u"|Logon|"}, {2, u"|Unlock|"}, {3, u"|Neuanmeldung|"}, {4, u"\\anna||"}};
    for (const auto& c : cases) {
        LogonReportFields f = AnnasLogon();
        f.operation = c.operation;
        ASSERT_EQ(Report(BuildLogonReport(f)), 0);
        EXPECT_NE(lines.back().find(c.name), std::u16string::npos) << c.operation;
    }
}

TEST_F(LogonReportTest, ABluetoothLogonRefreshesTheDeviceInTheMapAndCreatesNone) {
    LogonReportFields f = AnnasLogon();
    f.devType = 2;
    ASSERT_EQ(Report(BuildLogonReport(f)), 0);
    EXPECT_EQ(w.devices.Count(), 0u) << "no phone device is created from a report";

    auto* phone = new ReaderDevice(w.platform.clock, u"phone-1", u"Anna's phone");
    w.devices.Add(phone);
    ASSERT_EQ(Report(BuildLogonReport(f)), 0);
    const auto options = OptionsIn(w.devices, u"phone-1");
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0].m_strUser, u"anna");
    EXPECT_EQ(options[0].m_nOption, 2);
    EXPECT_EQ(created, 0);
    w.devices.EndWorker(phone);
}

TEST_F(LogonReportTest, ACardLogonCreatesOneReaderDeviceAndASecondOnlyRefreshesIt) {
    LogonReportFields f = AnnasLogon();
    f.devType = 3;
    f.devGuid = "{00112233-4455-6677-8899-AABBCCDDEEFF}";
    f.devName = "Reader 0";
    ASSERT_EQ(Report(BuildLogonReport(f)), 0);
    f.logonOption = 1;
    ASSERT_EQ(Report(BuildLogonReport(f)), 0);
    EXPECT_EQ(created, 1);
    CDevTovrel* device = w.devices.Find(u"{00112233-4455-6677-8899-AABBCCDDEEFF}");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetName(), u"Reader 0");
    EXPECT_EQ(static_cast<ReaderDevice*>(device)->workersStarted, 1);
    const auto options = device->CopyLogonOptions();
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0].m_nOption, 1);
    DeviceMap::Release(device);
    // The worker that never ran still holds its reference; give it back as it would at its end.
    device = w.devices.Find(u"{00112233-4455-6677-8899-AABBCCDDEEFF}");
    w.devices.EndWorker(device);
    DeviceMap::Release(device);
}

TEST_F(LogonReportTest, MalformedReportsAreIgnoredWithoutARecord) {
    const std::vector<uint8_t> good = BuildLogonReport(AnnasLogon());
    const size_t area = LogonReportLayout::kStringArea;

    std::vector<uint8_t> lengthPlusOne = good;  // one spare byte after the strings
    lengthPlusOne.push_back(0);
    WriteU16(lengthPlusOne.data() + 2, static_cast<uint16_t>(lengthPlusOne.size() - 8));

    std::vector<uint8_t> offsetOutside = good;
    WriteU16(offsetOutside.data() + LogonReportLayout::kErrMsgOffset, static_cast<uint16_t>(good.size() - area));

    std::vector<uint8_t> unterminated = good;
    unterminated.back() = 'x';

    std::vector<uint8_t> noStrings(good.begin(), good.begin() + area);
    WriteU16(noStrings.data() + 2, static_cast<uint16_t>(noStrings.size() - 8));

    std::vector<uint8_t> truncatedFixed(good.begin(), good.begin() + 100);
    WriteU16(truncatedFixed.data() + 2, static_cast<uint16_t>(truncatedFixed.size() - 8));

    const struct {
        const char* label;
        const std::vector<uint8_t>& report;
    } cases[] = {
        {"length is 134 plus the strings plus one", lengthPlusOne},
        {"string offset past the payload", offsetOutside},
        {"last string without terminator", unterminated},
        {"no string area", noStrings},
        {"payload ends inside the fixed fields", truncatedFixed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(w.reports.HandleLogonResultReport(c.report.data(), c.report.size()), Result::DatagramDropped)
            << c.label;
        EXPECT_EQ(Report(c.report), Result::DatagramDropped) << c.label;
    }
    EXPECT_TRUE(audited.empty());
    EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace corvane
