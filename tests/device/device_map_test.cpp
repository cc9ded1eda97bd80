// The device map's references and walks, and the logon options every device keeps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
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
    map.EndWorker(device);
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
        EXPECT_FALSE(map.Remove(*straggler));
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
        map.EndWorker(device);
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
    EXPECT_EQ(device.ReportSessions(), Result::NteNotSupported);
    EXPECT_EQ(device.Close(), Result::NteNotSupported);
    EXPECT_EQ(device.Transmit(nullptr, 0, &reply, &size, arena), Result::NteNotSupported);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_FALSE(device.IsStopping());
    device.RequestStop();
    EXPECT_TRUE(device.IsStopping());
}

// A device that counts the workers started on it.
class CreatedDevice final : public CDevTovrel {
public:
    CreatedDevice(IClock& clock, std::u16string id) : CDevTovrel(clock, std::move(id), u"Reader 0", DeviceKind::CardReader) {}
    ~CreatedDevice() override { ++g_destroyed; }
    void StartWorker() override { ++workersStarted; }
    uint32_t Run() override { return 0; }
    std::atomic<int> workersStarted {0};
};

// The logon result report (datagram thread) and the card confirmation (control thread) create
// the device of one card at the same time: one device ends up in the map with both options and
// one worker; the other creator's device is destroyed without ever running.
TEST_F(DeviceMapTest, TwoConcurrentCreatorsOfOneDeviceShareTheOneThatWasEnteredFirst) {
    DeviceMap map(config);
    for (int round = 0; round < 100; ++round) {
        g_destroyed = 0;
        std::atomic<int> ready {0};
        auto create = [&](const char16_t* user) {
            auto* created = new CreatedDevice(tp.clock, u"{CARD}");
            ++ready;
            while (ready.load() < 2) {
            }
            AddLogonOptionToCreated(map, created, user, u"CONTOSO", LogonOption::LockWhenOffline, 0);
        };
        std::thread report(create, u"anna");
        std::thread confirmation(create, u"bob");
        report.join();
        confirmation.join();

        ASSERT_EQ(map.Count(), 1u);
        EXPECT_EQ(g_destroyed.load(), 1) << "the losing creator's device is destroyed";
        CDevTovrel* device = map.Find(u"{CARD}");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(static_cast<CreatedDevice*>(device)->workersStarted.load(), 1);
        EXPECT_EQ(device->CopyLogonOptions().size(), 2u) << "both logons reach the device the stop sequence sees";
        EXPECT_EQ(device->RefCount(), 3) << "the map's, the worker's and this Find's";
        DeviceMap::Release(device);
        map.EndWorker(device);
        EXPECT_TRUE(map.IsEmpty());
        EXPECT_EQ(g_destroyed.load(), 2);
    }
}

TEST_F(DeviceMapTest, FindOrAddHandsTheCallerAReferenceEitherWay) {
    DeviceMap map(config);
    auto* first = new CreatedDevice(tp.clock, u"{F}");
    bool added = false;
    ASSERT_EQ(map.FindOrAdd(first, added), first);
    EXPECT_TRUE(added);
    EXPECT_EQ(first->RefCount(), 3);  // worker, map, caller
    DeviceMap::Release(first);

    auto* second = new CreatedDevice(tp.clock, u"{F}");
    ASSERT_EQ(map.FindOrAdd(second, added), first);
    EXPECT_FALSE(added);
    EXPECT_EQ(g_destroyed.load(), 1) << "the second device is released at once";
    EXPECT_EQ(first->RefCount(), 3);
    DeviceMap::Release(first);
    map.EndWorker(first);
    EXPECT_EQ(g_destroyed.load(), 2);
}

// A worker whose device never made it into the map (or was replaced there) must not take out,
// nor drop a reference of, the device that is stored under its id.
TEST_F(DeviceMapTest, RemoveTakesOutOnlyTheDeviceItIsGiven) {
    DeviceMap map(config);
    auto* stored = new CreatedDevice(tp.clock, u"{X}");
    ASSERT_TRUE(map.Add(stored));
    auto* orphan = new CreatedDevice(tp.clock, u"{X}");
    EXPECT_FALSE(map.Remove(*orphan));
    map.EndWorker(orphan);  // the orphan's own reference only
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_EQ(map.Count(), 1u);
    EXPECT_EQ(stored->RefCount(), 2);
    map.EndWorker(stored);
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(g_destroyed.load(), 2);
}

// A device whose destruction waits for another thread that needs the map mutex, as a phone's
// does when the library's CloseDevice waits for a signal callback in flight. It waits at most
// 2 s (real time) and records whether that thread got through.
class WaitingDevice final : public CDevTovrel {
public:
    WaitingDevice(IClock& clock, DeviceMap& map, std::thread& helper, bool& helperDone)
        : CDevTovrel(clock, u"{W}", u"name", DeviceKind::BluetoothPhone), m_map(map), m_helper(helper),
          m_helperDone(helperDone) {}
    ~WaitingDevice() override {
        struct Progress {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
        };
        auto progress = std::make_shared<Progress>();
        // The test joins the helper once EndWorker is over.
        m_helper = std::thread([progress, map = &m_map] {
            map->Count();  // takes the map mutex
            std::lock_guard<std::mutex> lock(progress->mutex);
            progress->finished = true;
            progress->done.notify_one();
        });
        std::unique_lock<std::mutex> lock(progress->mutex);
        m_helperDone = progress->done.wait_for(lock, std::chrono::seconds(2), [&] { return progress->finished; });
    }
    void StartWorker() override {}
    uint32_t Run() override { return 0; }

private:
    DeviceMap& m_map;
    std::thread& m_helper;
    bool& m_helperDone;
};

TEST_F(DeviceMapTest, TheEndOfAWorkerDestroysItsDeviceOutsideTheMapMutex) {
    DeviceMap map(config);
    std::thread helper;
    bool helperDone = false;
    auto* device = new WaitingDevice(tp.clock, map, helper, helperDone);
    ASSERT_TRUE(map.Add(device));
    map.EndWorker(device);
    if (helper.joinable()) helper.join();
    EXPECT_TRUE(helperDone) << "the destruction waited for a thread that needs the map mutex";
    EXPECT_TRUE(map.IsEmpty());
}

}  // namespace
}  // namespace corvane::test
