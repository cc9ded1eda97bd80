// The BLE service: message framing on a channel, loading the library, the radio monitor on the
// fake clock, the passive-channel server and the signal dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "device/ble_framing.h"
#include "device/ble_service.h"
#include "device/cdev_bth.h"
#include "device/device_map.h"
#include "device/radio_monitor.h"
#include "support/fake_ble_library.h"
#include "support/test_platform.h"
#include "wire/msg_header.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Message(uint16_t code, const Bytes& payload, uint32_t status = 0) {
    Bytes m(MsgHeader::kSize + payload.size());
    MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(m.data());
    std::copy(payload.begin(), payload.end(), m.begin() + MsgHeader::kSize);
    return m;
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class BleServiceTest : public ::testing::Test {
protected:
    BleServiceTest() {
        OpenServiceMutexes(tp.Get(), config);
        config.g_hostGuid.data1 = 0x01020304;
        config.g_hostGuid.data4[7] = 0x99;
        ble.UseLibrary(&library);
        ble.SendStatusNotification = [this](const BleStatusRecord& status) {
            std::lock_guard<std::mutex> lock(mutex);
            notified.push_back(status);
        };
    }
    ~BleServiceTest() override {
        stop = 1;
        for (uint64_t channel : openChannels) library.CloseChannel(channel);
        devices.ForEach([](CDevTovrel& d) { d.RequestStop(); });
        tp.threads.JoinAll();
    }
    std::vector<BleStatusRecord> Notified() {
        std::lock_guard<std::mutex> lock(mutex);
        return notified;
    }

    TestPlatform tp;
    Configuration config;
    DeviceMap devices {config};
    std::atomic<int32_t> stop {0}, radioStopped {1}, restart {0}, workers {0};
    DeviceWorkerHost workerHost {tp.threads, devices, workers};
    FakeBleLibrary library;
    CBleService ble {tp.Get(), config, devices, {stop, radioStopped, restart, workers}};
    std::mutex mutex;
    std::vector<BleStatusRecord> notified;
    std::vector<uint64_t> openChannels;
    BleConnection phoneConnection;  // outlives the phone devices of a test
};

// ---- framing

TEST_F(BleServiceTest, ReadMessageGathersHeaderAndPayloadFromShortReads) {
    const uint64_t phone = library.AddPhone();
    const uint64_t channel = FakeBleLibrary::PassiveOf(phone);
    library.readChunk = 3;
    library.Feed(channel, Message(0x3101, {1, 2, 3, 4, 5}));
    library.Feed(channel, Message(0x3027, {}));
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    ASSERT_EQ(ReadMessage(library, channel, kBleNoTimeout, arena, &message, &size), 0u);
    EXPECT_EQ(Bytes(message, message + size), Message(0x3101, {1, 2, 3, 4, 5}));
    EXPECT_EQ(message[size], 0);
    EXPECT_EQ(message[size + 1], 0);
    ASSERT_EQ(ReadMessage(library, channel, kBleNoTimeout, arena, &message, &size), 0u);
    EXPECT_EQ(size, 8u);
}

TEST_F(BleServiceTest, ReadMessageThatDiesMidwayLeavesNothingInTheArena) {
    const uint64_t channel = FakeBleLibrary::PassiveOf(library.AddPhone());
    Bytes half = Message(0x3021, Bytes(20, 7));
    half.resize(15);
    library.Feed(channel, half);
    library.CloseChannel(channel);
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    EXPECT_EQ(ReadMessage(library, channel, kBleNoTimeout, arena, &message, &size), kBleChannelClosed);
    EXPECT_EQ(arena.BlockCount(), 0u);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(ReadMessage(library, 0, 10, arena, &message, &size), kBleNotSocket);
    const uint64_t quiet = FakeBleLibrary::PassiveOf(library.AddPhone());
    EXPECT_EQ(ReadMessage(library, quiet, 1, arena, &message, &size), kBleTimedOut);
}

TEST_F(BleServiceTest, WriteMessageSendsHeaderAndPayloadOrTheFirstError) {
    const uint64_t channel = FakeBleLibrary::PassiveOf(library.AddPhone());
    const Bytes m = Message(0xB101, {9, 8, 7});
    EXPECT_EQ(WriteMessage(library, m.data(), channel), 0u);
    EXPECT_EQ(library.TakeWritten(channel), m);
    EXPECT_EQ(WriteMessage(library, nullptr, channel), 87u);
    EXPECT_EQ(WriteMessage(library, m.data(), 0), kBleNotSocket);
    library.writeResult = kBleIoFailed;
    EXPECT_EQ(WriteMessage(library, m.data(), channel), kBleIoFailed);
}

// ---- loading

uint32_t VXBLE_CALL StubStart(uint64_t*, const uint8_t*, VxBleConnectCallback) { return 0; }
uint32_t VXBLE_CALL StubHandle(uint64_t) { return 0; }
uint32_t VXBLE_CALL StubChannel(uint64_t, uint64_t*) { return 0; }
uint32_t VXBLE_CALL StubRead(uint64_t, void*, uint64_t*, uint32_t) { return 0; }
uint32_t VXBLE_CALL StubWrite(uint64_t, const void*, uint64_t*) { return 0; }
uint32_t VXBLE_CALL StubAddSignal(uint64_t, uint64_t*, VxBleSignalCallback) { return 0; }
uint32_t VXBLE_CALL StubRemoveSignal(uint64_t, uint64_t) { return 0; }

void* Stub(const char* name, bool withSignals, const char* missing) {
    const std::string n = name;
    if (missing && n == missing) return nullptr;
    if (n == "StartBleService") return reinterpret_cast<void*>(&StubStart);
    if (n == "StopBleService" || n == "CloseDevice") return reinterpret_cast<void*>(&StubHandle);
    if (n == "GetActiveChannel" || n == "GetPassiveChannel") return reinterpret_cast<void*>(&StubChannel);
    if (n == "ReadChannel") return reinterpret_cast<void*>(&StubRead);
    if (n == "WriteChannel") return reinterpret_cast<void*>(&StubWrite);
    if (withSignals && n == "AddSignalStrengthEvent") return reinterpret_cast<void*>(&StubAddSignal);
    if (withSignals && n == "RemoveSignalStrengthEvent") return reinterpret_cast<void*>(&StubRemoveSignal);
    return nullptr;
}

TEST_F(BleServiceTest, LibraryIsLoadedOnlyWithItsSevenRequiredExports) {
    struct Case {
        const char* label;
        bool loadable;
        bool signals;
        const char* missing;
        bool loaded;
    } cases[] = {
        {"no library at all", false, true, nullptr, false},
        {"all nine exports", true, true, nullptr, true},
        {"without the optional signal exports", true, false, nullptr, true},
        {"without ReadChannel", true, true, "ReadChannel", false},
    };
    tp.Get().libraries = &tp.fakeLibraries;
    for (const Case& c : cases) {
        tp.fakeLibraries.loadable = c.loadable;
        tp.fakeLibraries.resolve = [c](const char* name) { return Stub(name, c.signals, c.missing); };
        ble.LoadBleLibrary(u"/opt/tests");
        EXPECT_EQ(ble.BleLibraryLoaded(), c.loaded) << c.label;
        if (c.loaded) {
            EXPECT_EQ(ble.Library()->HasSignalStrengthEvents(), c.signals) << c.label;
        }
    }
    ASSERT_GE(tp.fakeLibraries.requested.size(), 3u);
    EXPECT_EQ(tp.fakeLibraries.requested[0], tp.system.JoinPath(u"/opt/tests", kBleLibraryName));
    // The directory asked for, the program's folder, then the plain name.
    EXPECT_EQ(tp.fakeLibraries.requested[2], kBleLibraryName);
}

// ---- radio monitor

TEST_F(BleServiceTest, RadioComingAndGoingAHundredTimesKeepsOneCompanion) {
    ble.SendStatusNotification = nullptr;  // no notification threads: only the companion is started
    std::atomic<uint64_t> calls {0};
    tp.bluetoothRadios.Script([&] {
        // Present at every wait, gone at every poll: one start and one stop per cycle.
        const bool present = (calls++ % 2) == 0;
        if (library.startCalls >= 100 && !present) stop = 1;
        return present;
    });
    CRadioMonitor monitor(ble);
    monitor.Run();
    EXPECT_EQ(library.startCalls, 100);
    EXPECT_EQ(library.stopCalls, 100);
    EXPECT_EQ(monitor.CompanionStarts(), 1u);
    tp.threads.JoinAll();
    EXPECT_EQ(tp.threads.Started(), 1u);
    EXPECT_EQ(radioStopped.load(), 1);
}

// A companion that cannot be started is tried again on the next pass; once one runs, the service
// stays up until the radio, a restart request or the stop ends it.
TEST_F(BleServiceTest, ACompanionThatFailsToStartOnceIsStartedOnTheNextPass) {
    ble.SendStatusNotification = nullptr;  // no notification threads: only the companion is started
    tp.threads.failNext = 1;
    int looks = 0;
    tp.bluetoothRadios.Script([&] {
        if (++looks == 10) stop = 1;
        return true;
    });
    CRadioMonitor monitor(ble);
    monitor.Run();
    EXPECT_EQ(library.startCalls, 2) << "one pass without a companion, then one that keeps running";
    EXPECT_EQ(monitor.CompanionStarts(), 1u);
    tp.threads.JoinAll();
    EXPECT_EQ(tp.threads.Started(), 1u);
}

TEST_F(BleServiceTest, WithoutARadioTheMonitorPollsEveryTwoSecondsAndNeverStarts) {
    tp.bluetoothRadios.present = false;
    std::vector<uint32_t> ticks;
    tp.bluetoothRadios.Script([&] {
        ticks.push_back(tp.clock.GetTickCount());
        if (ticks.size() == 5) stop = 1;
        return false;
    });
    CRadioMonitor monitor(ble);
    monitor.Run();
    EXPECT_EQ(library.startCalls, 0);
    ASSERT_EQ(ticks.size(), 5u);
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_EQ(ticks[i] - ticks[i - 1], 2000u);
}

TEST_F(BleServiceTest, RadioLossStopsTheServiceWithinTwoSecondsAndClearsTheStatus) {
    CRadioMonitor monitor(ble);
    std::thread runner([&] { monitor.Run(); });
    ASSERT_TRUE(WaitFor([&] { return ble.BleServiceRunning(); }));
    const BleStatusRecord running = ble.GetBleStatus();
    EXPECT_EQ(ReadU32(running.data()), kBleStatusRunning);
    EXPECT_EQ(ReadU32(running.data() + 12), 0x01020304u);
    EXPECT_EQ(running[27], 0x99);
    EXPECT_EQ(library.lastGuid, Bytes(running.begin() + 12, running.end()));
    tp.bluetoothRadios.present = false;
    ASSERT_TRUE(WaitFor([&] { return !ble.BleServiceRunning(); }));
    EXPECT_EQ(ble.GetBleStatus(), BleStatusRecord {});
    // A notification after the start and one after the stop, each on a thread of its own: the
    // stop's is the last one sent, and a start's that would have overtaken it is dropped.
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<BleStatusRecord> sent = Notified();
        return !sent.empty() && sent.back() == BleStatusRecord {};
    }));
    const std::vector<BleStatusRecord> sent = Notified();
    EXPECT_LE(std::count(sent.begin(), sent.end(), running), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), BleStatusRecord {}), 1);
    EXPECT_EQ(sent.front(), sent.size() == 2 ? running : BleStatusRecord {});
    stop = 1;
    runner.join();
}

TEST_F(BleServiceTest, EachRestartRequestRestartsTheServiceOnce) {
    CRadioMonitor monitor(ble);
    std::thread runner([&] { monitor.Run(); });
    ASSERT_TRUE(WaitFor([&] { return library.startCalls == 1; }));
    restart = 1;
    ASSERT_TRUE(WaitFor([&] { return library.startCalls == 2; }));
    restart = 1;
    ASSERT_TRUE(WaitFor([&] { return library.startCalls == 3; }));
    EXPECT_EQ(library.stopCalls, 2);
    EXPECT_EQ(restart.load(), 0);
    stop = 1;
    runner.join();
    EXPECT_EQ(library.stopCalls, 3);
    EXPECT_EQ(monitor.CompanionStarts(), 1u);
}

TEST_F(BleServiceTest, WhileAPhoneIsConnectedTheRadioPollDoesNotStopTheService) {
    BleConnection& connection = phoneConnection;
    connection.m_hDevice = library.AddPhone();
    connection.m_strDeviceId = u"phone-1";
    auto* phone = new CDevBth({tp.Get(), config, workerHost, &library}, connection);
    ASSERT_TRUE(devices.Add(phone));
    // The test's own reference: a closed phone's worker ends at once on the racing fake clock.
    phone->AddRef();
    phone->StartWorker();
    CRadioMonitor monitor(ble);
    std::thread runner([&] { monitor.Run(); });
    ASSERT_TRUE(WaitFor([&] { return ble.BleServiceRunning(); }));
    tp.bluetoothRadios.present = false;
    const uint64_t before = tp.bluetoothRadios.enumerations;
    const uint32_t start = tp.clock.GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return tp.clock.GetTickCount() - start > 10000; }));
    EXPECT_TRUE(ble.BleServiceRunning());
    EXPECT_EQ(tp.bluetoothRadios.enumerations.load(), before);
    phone->Close();
    DeviceMap::Release(phone);
    ASSERT_TRUE(WaitFor([&] { return !ble.BleServiceRunning(); }));
    stop = 1;
    runner.join();
}

// ---- connections

TEST_F(BleServiceTest, PassiveChannelServerAnswersEveryRequestAndTearsDownWhenTheChannelEnds) {
    std::atomic<int> teardowns {0};
    ble.HandleDeviceRequest = [](BleConnection&, const uint8_t* request, size_t size, ReplyArena& arena,
                                 uint8_t** reply, size_t* replySize) -> uint32_t {
        if (ReadU16(request) == 0x3024) return 0x80090010;
        *reply = arena.Allocate(size);
        std::copy(request, request + size, *reply);
        WriteU16(*reply, 0x1234);  // the server puts the reply code in
        *replySize = size;
        return 0;
    };
    ble.TeardownConnection = [&](BleConnection* c) {
        ++teardowns;
        delete c;
    };
    ble.StartBle();
    const uint64_t phone = library.AddPhone();
    const uint64_t channel = FakeBleLibrary::PassiveOf(phone);
    library.Connect(phone);
    library.Feed(channel, Message(0x3024, {}));
    library.Feed(channel, Message(0x3101, {5, 6}));
    ASSERT_TRUE(library.WaitWritten(channel, 8 + 10));
    Bytes expected = Message(0xB024, {}, 0x80090010);
    const Bytes echo = Message(0xB101, {5, 6});
    expected.insert(expected.end(), echo.begin(), echo.end());
    EXPECT_EQ(library.TakeWritten(channel), expected);
    EXPECT_EQ(workers.load(), 1);
    library.CloseChannel(channel);
    ASSERT_TRUE(WaitFor([&] { return teardowns == 1 && workers == 0; }));
}

TEST_F(BleServiceTest, ConnectionWithoutAPassiveChannelIsAbandonedAndClosed) {
    ble.StartBle();
    library.passiveResult = kBleErrorCode;
    const uint64_t phone = library.AddPhone();
    library.Connect(phone);
    EXPECT_TRUE(library.WasClosed(phone));
    EXPECT_EQ(tp.threads.Started(), 0u);
}

TEST_F(BleServiceTest, AdapterFailureDisablesTheAdaptersUntilTheServiceStopsThenEnablesThem) {
    CRadioMonitor monitor(ble);
    std::thread runner([&] { monitor.Run(); });
    ASSERT_TRUE(WaitFor([&] { return ble.BleServiceRunning(); }));
    library.Connect(0);
    ASSERT_TRUE(WaitFor([&] { return tp.bluetoothRadios.Switches() == std::vector<bool> {false, true}; }));
    EXPECT_GE(library.stopCalls, 1);
    ASSERT_TRUE(WaitFor([&] { return library.startCalls >= 2; }));
    stop = 1;
    runner.join();
}

TEST_F(BleServiceTest, SignalSamplesReachThePhoneWithThatHandle) {
    BleConnection& connection = phoneConnection;
    connection.m_hDevice = library.AddPhone();
    connection.m_strDeviceId = u"phone-1";
    auto* phone = new CDevBth({tp.Get(), config, workerHost, &library}, connection);
    ASSERT_TRUE(devices.Add(phone));
    // The test's own reference: once closed, the worker ends the phone's life on the fake clock
    // while Close may still be running.
    phone->AddRef();
    phone->StartWorker();
    phone->StartRssiStatistics();
    ble.OnBleSignal(connection.m_hDevice, -61);
    ble.OnBleSignal(connection.m_hDevice + 1, -99);
    const RssiStatistics stats = phone->ReadRssiStatistics();
    EXPECT_EQ(stats.count, 1);
    EXPECT_EQ(stats.average, -61);
    const PhoneListFields fields = phone->GetPhoneListFields();
    EXPECT_TRUE(fields.haveRssi);
    EXPECT_EQ(fields.lastRssi, -61);
    EXPECT_EQ(fields.linkKind, 2u);
    phone->Close();
    DeviceMap::Release(phone);
}

TEST_F(BleServiceTest, PcManagerReleaseEndsTheProgramsStopsTheServiceAndAsksForARestart) {
    tp.pcSoftware.processes = {u"explorer.exe", u"MBAMessageCenter.exe", u"HwMdcCenter.exe"};
    tp.pcSoftware.serviceState = ForeignServiceState::Running;
    ble.PcManagerRelease();
    EXPECT_EQ(tp.pcSoftware.terminated, (std::vector<std::u16string> {u"MBAMessageCenter.exe", u"HwMdcCenter.exe"}));
    EXPECT_EQ(tp.pcSoftware.stops, 1);
    EXPECT_EQ(tp.pcSoftware.serviceState, ForeignServiceState::Stopped);
    EXPECT_EQ(restart.load(), 1);
}

TEST_F(BleServiceTest, PcManagerReleaseLeavesTheRestartAloneWithoutARunningService) {
    for (uint32_t state : {0u, ForeignServiceState::Stopped}) {
        tp.pcSoftware.serviceState = state;
        ble.PcManagerRelease();
        EXPECT_EQ(tp.pcSoftware.stops, 0) << state;
        EXPECT_EQ(restart.load(), 0) << state;
    }
}

TEST_F(BleServiceTest, OnlyOnePcManagerReleaseRunsAtATime) {
    tp.pcSoftware.serviceState = ForeignServiceState::Running;
    tp.pcSoftware.stopAfterQueries = 1000000;  // never stops: the release waits out its minute
    std::atomic<bool> held {true};
    tp.clock.onSleep = [&](uint32_t) {
        while (held) std::this_thread::yield();
    };
    EXPECT_TRUE(ble.StartPcManagerRelease());
    EXPECT_FALSE(ble.StartPcManagerRelease());
    held = false;
    tp.threads.JoinAll();
    tp.clock.onSleep = nullptr;
    EXPECT_EQ(restart.load(), 1);
    EXPECT_TRUE(ble.StartPcManagerRelease());
}

}  // namespace
}  // namespace corvane::test
