// The device map's references and walks, and the logon options every device keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "device/device_map.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

std::atomic<int> g_destroyed {0};

class CountedDevice final : public CDevTovrel {
public:
    CountedDevice(IClock& clock, std::u16string id) : CDevTovrel(clock, std::move(id), u"name", DeviceKind::CardReader) {}
    ~CountedDevice() override { ++g_destroyed; }
    void StartWorker() override {}
    uint32_t Run() override { return 0; }
};

class DeviceMapTest : public ::testing::Test {
protected:
    DeviceMapTest() {
        OpenServiceMutexes(tp.Get(), config);
        g_destroyed = 0;
    }
    TestPlatform tp;
    Configuration config;
};

TEST_F(DeviceMapTest, FindTakesAReferenceAndTheLastReleaseDestroys) {
    DeviceMap map(config);
    auto* device = new CountedDevice(tp.clock, u"{A}");  // the worker's reference
    ASSERT_TRUE(map.Add(device));
    EXPECT_EQ(device->RefCount(), 2);
    EXPECT_EQ(map.Find(u"{a}"), nullptr);  // ids are exact keys

    CDevTovrel* found = map.Find(u"{A}");
    ASSERT_EQ(found, device);
    EXPECT_EQ(device->RefCount(), 3);

    // The worker ends: it takes the entry out and drops the map's reference and its own.
    ASSERT_TRUE(map.Remove(u"{A}"));
    DeviceMap::Release(device);
    DeviceMap::Release(device);
    EXPECT_EQ(map.Find(u"{A}"), nullptr);
    EXPECT_EQ(g_destroyed.load(), 0);  // still held by the finder
    DeviceMap::Release(found);
    EXPECT_EQ(g_destroyed.load(), 1);
}

TEST_F(DeviceMapTest, ClearLeavesADeviceWhoseWorkerStillRunsAlive) {
    auto* straggler = new CountedDevice(tp.clock, u"{S}");
    auto* finished = new CountedDevice(tp.clock, u"{F}");
    {
        DeviceMap map(config);
        map.Add(straggler);
        map.Add(finished);
        DeviceMap::Release(finished);  // its worker ended without taking it out
        auto* duplicate = new CountedDevice(tp.clock, u"{S}");
        EXPECT_FALSE(map.Add(duplicate));  // the id is taken: the map does not hold it
        EXPECT_EQ(duplicate->RefCount(), 1);
        DeviceMap::Release(duplicate);
        map.Clear();
        EXPECT_TRUE(map.IsEmpty());
        EXPECT_EQ(g_destroyed.load(), 2);
        EXPECT_EQ(straggler->RefCount(), 1);
        // The straggler's worker ends later: the map no longer holds it, so only its own goes.
        EXPECT_FALSE(map.Remove(u"{S}"));
    }
    DeviceMap::Release(straggler);
}

TEST_F(DeviceMapTest, WalksSeeEveryDeviceAndForEachUntilStopsAtTheFirstTrue) {
    DeviceMap map(config);
    std::vector<CountedDevice*> held;
    for (auto id : {u"{1}", u"{2}", u"{3}"}) {
        held.push_back(new CountedDevice(tp.clock, id));
        map.Add(held.back());
    }
    int visited = 0;
    map.ForEach([&](CDevTovrel&) { ++visited; });
    EXPECT_EQ(visited, 3);
    visited = 0;
    EXPECT_TRUE(map.ForEachUntil([&](CDevTovrel&) { return ++visited == 2; }));
    EXPECT_EQ(visited, 2);
    std::vector<CDevTovrel*> taken;
    map.ForEachReferenced([&](CDevTovrel* d) { taken.push_back(d); });
    ASSERT_EQ(taken.size(), 3u);
    for (auto* d : taken) {
        EXPECT_EQ(d->RefCount(), 3);
        DeviceMap::Release(d);
    }
    for (auto* d : held) DeviceMap::Release(d);
}

TEST_F(DeviceMapTest, FindRacingWithRemovalGetsAValidDeviceOrNothing) {
    DeviceMap map(config);
    for (int round = 0; round < 200; ++round) {
        auto* device = new CountedDevice(tp.clock, u"{R}");
        map.Add(device);
        std::thread finder([&] {
            if (CDevTovrel* d = map.Find(u"{R}")) {
                EXPECT_EQ(d->GetId(), u"{R}");
                DeviceMap::Release(d);
            }
        });
        if (map.Remove(u"{R}")) DeviceMap::Release(device);
        DeviceMap::Release(device);
        finder.join();
    }
    EXPECT_EQ(g_destroyed.load(), 200);
}

TEST_F(DeviceMapTest, LogonOptionsUpsertIgnoringCaseAndKeepTheirClocks) {
    CountedDevice device(tp.clock, u"{O}");
    device.AddLogonOption(u"anna", u"CONTOSO", LogonOption::LockWhenOffline, 10);
    const uint32_t firstTick = tp.clock.GetTickCount();
    tp.clock.Advance(5000);
    {
        std::vector<CLogonOpt> options = device.CopyLogonOptions();
        ASSERT_EQ(options.size(), 1u);
        EXPECT_EQ(options[0].m_dwLastSample, firstTick);
    }
    device.AddLogonOption(u"ANNA", u"contoso", LogonOption::LogoffWhenOffline, 30);
    auto options = device.CopyLogonOptions();
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0].m_nOption, LogonOption::LogoffWhenOffline);
    EXPECT_EQ(options[0].m_nDelay, 30);
    EXPECT_EQ(options[0].m_ftTime, tp.clock.GetSystemTimeAsFileTime());
    EXPECT_EQ(options[0].m_bHandled, 0u);
    EXPECT_EQ(options[0].m_dwLastSample, firstTick);

    const FileTime t = 42;
    EXPECT_TRUE(device.SetLogonOptionTime(u"Anna", u"Contoso", &t));
    EXPECT_FALSE(device.SetLogonOptionTime(u"bob", u"CONTOSO", &t));
    EXPECT_EQ(device.CopyLogonOptions()[0].m_ftTime, 42);
    device.RemoveLogonOption(u"bob", u"CONTOSO");
    EXPECT_EQ(device.CopyLogonOptions().size(), 1u);
    device.RemoveLogonOption(u"anna", u"contoso");
    EXPECT_TRUE(device.CopyLogonOptions().empty());
}

TEST_F(DeviceMapTest, OperationsABaseDeviceDoesNotSupport) {
    CountedDevice device(tp.clock, u"{B}");
    ReplyArena arena;
    uint8_t* reply = nullptr;
    size_t size = 0;
    EXPECT_EQ(device.ReportSessions(), kNteNotSupported);
    EXPECT_EQ(device.Close(), kNteNotSupported);
    EXPECT_EQ(device.Transmit(nullptr, 0, &reply, &size, arena), kNteNotSupported);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_FALSE(device.IsStopping());
    device.RequestStop();
    EXPECT_TRUE(device.IsStopping());
}

}  // namespace
}  // namespace corvane::test
