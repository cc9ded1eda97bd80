// The session monitor on a terminal server: the cost of one session-change notification and of
// the session list for phones, with 1, 100 and 2000 sessions in the table.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/device_map.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_mutexes.h"
#include "platform/posix/posix_threads.h"
#include "platform/text.h"
#include "session/session_monitor.h"

namespace corvane {
namespace {

// A terminal server's sessions, answered from memory.
class BenchSessions final : public ISessions {
public:
    explicit BenchSessions(int count) {
        for (int i = 0; i < count; ++i) {
            WtsInfoEx info;
            info.SessionId = static_cast<uint32_t>(i + 2);
            info.SessionState = WtsConnectState::Active;
            info.SessionFlags = WtsSessionFlags::Unlock;
            info.WinStationName = u"RDP-Tcp#" + AsciiToUtf16(std::to_string(i));
            info.UserName = u"user" + AsciiToUtf16(std::to_string(i));
            info.DomainName = u"CONTOSO";
            info.LogonTime = info.CurrentTime = 134113440000000000LL;
            m_sessions.push_back(info);
        }
    }
    uint32_t EnumerateSessions(std::vector<WtsSessionEntry>& out) override {
        for (const auto& s : m_sessions) out.push_back({s.SessionId, s.WinStationName, s.SessionState});
        return 0;
    }
    uint32_t QuerySessionInfoEx(uint32_t id, WtsInfoEx& out) override {
        if (id < 2 || id - 2 >= m_sessions.size()) return 7022;
        out = m_sessions[id - 2];
        return 0;
    }
    uint32_t QuerySessionInfo(uint32_t) override { return 0; }
    uint32_t QueryUserName(uint32_t, std::u16string&) override { return 0; }
    uint32_t QueryDomainName(uint32_t, std::u16string&) override { return 0; }
    uint32_t DisconnectSession(uint32_t) override { return 0; }
    uint32_t LogoffSession(uint32_t) override { return 0; }
    uint32_t FindUserProcess(uint32_t, std::u16string_view, std::u16string_view, uint32_t&) override { return 127; }
    uint32_t TestUserToken(uint32_t) override { return 0; }
    uint32_t RunIdleProgram(uint32_t, int32_t*) override { return 0; }
    uint32_t EnumerateDomainTrusts(std::vector<DomainTrust>& out) override {
        out = {{u"CONTOSO", u"contoso.com"}};
        return 0;
    }
    void GetOsVersion(uint32_t& major, uint32_t& minor) override {
        major = 10;
        minor = 0;
    }
    uint32_t InitiateShutdown() override { return 0; }

    WtsInfoEx& Last() { return m_sessions.back(); }

private:
    std::vector<WtsInfoEx> m_sessions;
};

class NoRecords final : public ISessionRecords {
public:
    void OnNewSession(const CUserLog&, const WtsInfoEx&) override {}
    void OnEnumeratedSession(const CUserLog&, bool) override {}
    void OnStateChange(const CUserLog&, int32_t, const WtsInfoEx*) override {}
    void OnCardLogon(const CUserLog&, int32_t, FileTime, std::u16string_view, std::u16string_view) override {}
    void OnOfflineAction(const CUserLog&, const CLogonOpt&, const CDevTovrel&) override {}
    void OnAwayAction(const CUserLog&, const CLogonOpt&, const CDevTovrel&) override {}
};

// A monitor whose table holds `count` remote desktop sessions, found by the start-up enumeration.
struct Server {
    explicit Server(int count) : sessions(count), mutexes("/nonexistent") {
        platform.clock = &clock;
        platform.threads = &threads;
        platform.mutexes = &mutexes;
        platform.sessions = &sessions;
        OpenServiceMutexes(platform, config);  // in-process names: no lock files
        config.g_strComputerName = u"TS1";
        devices = std::make_unique<DeviceMap>(config);
        monitor = std::make_unique<CSessionMonitor>(platform, config, *devices, records);
        monitor->EnumerateSessions();
    }
    BenchSessions sessions;
    posix::PosixClock clock;
    posix::PosixThreads threads;
    posix::PosixMutexes mutexes;
    Platform platform;
    Configuration config;
    NoRecords records;
    std::unique_ptr<DeviceMap> devices;
    std::unique_ptr<CSessionMonitor> monitor;
};

// Lock and unlock of the session that was added last (the table is searched from the front).
void OnSessionChange(benchmark::State& state) {
    Server server(static_cast<int>(state.range(0)));
    WtsSessionNotification notification;
    notification.dwSessionId = server.sessions.Last().SessionId;
    bool locked = false;
    for (auto _ : state) {
        locked = !locked;
        server.sessions.Last().SessionFlags = locked ? WtsSessionFlags::Lock : WtsSessionFlags::Unlock;
        server.monitor->OnSessionChange(locked ? 7 : 8, &notification);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(OnSessionChange)->Name("OnSessionChange/corvane")->Arg(1)->Arg(100)->Arg(2000);

void BuildSessionList(benchmark::State& state) {
    Server server(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ReplyArena arena;
        uint8_t* message = nullptr;
        size_t size = 0;
        benchmark::DoNotOptimize(server.monitor->BuildSessionList(message, size, arena));
        benchmark::DoNotOptimize(message);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BuildSessionList)->Name("BuildSessionList/corvane")->Arg(1)->Arg(100)->Arg(2000);

}  // namespace
}  // namespace corvane
