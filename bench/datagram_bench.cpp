// The command datagram channel under a crowd of phones.
//  - PresenceDatagrams: presence datagrams taken off a loopback UDP socket and handled the way the
//    receive thread does (recvfrom, then DispatchDatagram into the network device table), next to
//    a bare recvfrom loop on the same socket: the ratio is the channel's cost over the kernel's.
//    Each iteration handles a batch that a sender put into the socket's buffer beforehand.
//  - NetDeviceCrowd: 10,000 phones announcing every 5 s (2,000 datagrams per second) for 30 s of
//    simulated time, ageing every second; reports the table size reached.
//  - NetDeviceAgeing: one ageing pass over a table of 10,000 phones.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "channel/datagram_channel.h"
#include "channel/logon_report.h"
#include "wire/msg_header.h"
#include "channel/socket_helpers.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/file_time.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_mutexes.h"
#include "platform/posix/posix_sockets.h"

namespace corvane {
namespace {

constexpr int kBatch = 64;
constexpr int kPhones = 10000;

// A clock the benchmark moves by hand.
class ManualClock final : public IClock {
public:
    uint32_t GetTickCount() override { return static_cast<uint32_t>(m_ms); }
    FileTime GetSystemTimeAsFileTime() override { return UnixSecondsToFileTime(1767225600) + m_ms * 10000; }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t ms) override { m_ms += ms; }

private:
    int64_t m_ms = 0;
};

std::vector<uint8_t> Presence(int phone) {
    using namespace Contract;
    const std::string id = "{6B29FC40-CA47-1067-B31D-" + std::to_string(100000000000 + phone) + "}";
    const std::string name = "Phone " + std::to_string(phone);
    std::vector<uint8_t> d(kPresenceNameOffset + name.size() + 1, 0);
    MsgHeader {kPresence, static_cast<uint16_t>(d.size() - MsgHeader::kSize), 0}.Encode(d.data());
    WriteU16(d.data() + kPresencePortOffset, DEVICE_REPLY_PORT);
    WriteU32(d.data() + kPresenceValueOffset, static_cast<uint32_t>(phone));
    std::copy(id.begin(), id.end(), d.begin() + kPresenceIdOffset);
    std::copy(name.begin(), name.end(), d.begin() + kPresenceNameOffset);
    return d;
}

// The service's objects for the channel, on the real POSIX sockets, clock and named mutexes.
struct ChannelBench {
    ChannelBench() : mutexes(MakeLockDir()) {
        platform.clock = &clock;
        platform.mutexes = &mutexes;
        platform.sockets = &sockets;
        sockets.Startup();
        OpenServiceMutexes(platform, config);
        CreateSocket(sockets, SocketKind::Datagram, receiver);
        sockets.Bind(receiver, SockAddrIn::Inet(SockAddrIn::kLoopback, 0));
        sockets.GetLocalAddress(receiver, local);
        CreateSocket(sockets, SocketKind::Datagram, sender);
        for (int i = 0; i < kBatch; ++i) datagrams.push_back(Presence(i));
    }
    ~ChannelBench() {
        CloseSocket(sockets, sender);
        CloseSocket(sockets, receiver);
        sockets.Cleanup();
        std::string cmd = "rm -rf '" + lockDir + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    std::string MakeLockDir() {
        char pattern[] = "/tmp/corvane-bench.XXXXXX";
        lockDir = mkdtemp(pattern) ? pattern : "/tmp";
        return lockDir;
    }
    void FillBatch() {
        size_t sent = 0;
        for (const auto& d : datagrams) sockets.SendTo(sender, d.data(), d.size(), local, sent);
    }

    std::string lockDir;
    posix::PosixClock clock;
    posix::PosixMutexes mutexes;
    posix::PosixSockets sockets;
    Platform platform;
    Configuration config;
    CNetDeviceTable table {clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform, config, table, devices};
    CSessionQueries queries {platform, config};
    CDatagramChannel channel {platform, config, table, reports, queries};
    SocketHandle receiver = kInvalidSocket;
    SocketHandle sender = kInvalidSocket;
    SockAddrIn local;
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kDatagramBufferSize);
};

template <bool kDispatch>
void PresenceDatagrams(benchmark::State& state) {
    ChannelBench b;
    for (auto _ : state) {
        state.PauseTiming();
        b.FillBatch();
        state.ResumeTiming();
        for (int i = 0; i < kBatch; ++i) {
            size_t received = 0;
            SockAddrIn from;
            if (b.sockets.ReceiveFrom(b.receiver, b.buffer.data(), b.buffer.size(), received, from) != 0) {
                state.SkipWithError("receive failed");
                return;
            }
            if constexpr (kDispatch) benchmark::DoNotOptimize(b.channel.DispatchDatagram(b.buffer.data(), received, from));
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    if constexpr (kDispatch) state.counters["entries"] = static_cast<double>(b.table.Count());
}
void PresenceDatagrams_corvane(benchmark::State& state) { PresenceDatagrams<true>(state); }
void PresenceDatagrams_recvfrom(benchmark::State& state) { PresenceDatagrams<false>(state); }
BENCHMARK(PresenceDatagrams_corvane)->Name("PresenceDatagrams/corvane")->UseRealTime();
BENCHMARK(PresenceDatagrams_recvfrom)->Name("PresenceDatagrams/recvfrom")->UseRealTime();

// Fills a table with `count` phones through the dispatcher, as their announcements would.
void Announce(CDatagramChannel& channel, const std::vector<std::vector<uint8_t>>& datagrams, int first, int count) {
    const SockAddrIn from = SockAddrIn::Inet(0x0A000001, 45452);
    for (int i = first; i < first + count; ++i) {
        const auto& d = datagrams[static_cast<size_t>(i)];
        channel.DispatchDatagram(d.data(), d.size(), from);
    }
}

struct CrowdBench {
    CrowdBench() {
        platform.clock = &clock;
        for (int i = 0; i < kPhones; ++i) datagrams.push_back(Presence(i));
    }
    ManualClock clock;
    Platform platform;
    Configuration config;
    CNetDeviceTable table {clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform, config, table, devices};
    CSessionQueries queries {platform, config};
    CDatagramChannel channel {platform, config, table, reports, queries};
    std::vector<std::vector<uint8_t>> datagrams;
};

void NetDeviceCrowd(benchmark::State& state) {
    size_t largest = 0;
    size_t smallest = 0;
    for (auto _ : state) {
        CrowdBench b;
        // Every second a fifth of the phones announce themselves, then the ageing pass runs.
        for (int second = 0; second < 30; ++second) {
            const int fifth = second % 5;
            Announce(b.channel, b.datagrams, fifth * (kPhones / 5), kPhones / 5);
            b.clock.Sleep(1000);
            b.table.AgeNetDevices();
            largest = std::max(largest, b.table.Count());
            if (second >= 5) smallest = smallest == 0 ? b.table.Count() : std::min(smallest, b.table.Count());
        }
    }
    state.counters["largest_table"] = static_cast<double>(largest);
    state.counters["smallest_table_after_5s"] = static_cast<double>(smallest);
    state.SetItemsProcessed(state.iterations() * 30 * (kPhones / 5));
}
BENCHMARK(NetDeviceCrowd)->Name("NetDeviceCrowd/corvane")->Unit(benchmark::kMillisecond);

void NetDeviceAgeing(benchmark::State& state) {
    CrowdBench b;
    Announce(b.channel, b.datagrams, 0, kPhones);
    for (auto _ : state) b.table.AgeNetDevices();
    state.counters["entries"] = static_cast<double>(b.table.Count());
}
BENCHMARK(NetDeviceAgeing)->Name("NetDeviceAgeing10k/corvane")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace corvane
