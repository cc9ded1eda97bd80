// Feeds DispatchDatagram with any bytes from any sender: presence, withdrawal, logon result
// reports, session queries and forwardable codes, on a fake environment (no network, a clock
// that moves a second per input, hooks standing in for the records and the session table).
// Besides the sanitizers it checks the channel's promises: the device list can always be built,
// every forward is the datagram plus 16 bytes, every reply goes to port 45452 and frames exactly.
//
// Input: byte 0 chooses the switches (bit 0 forwarding on, bit 1 no logon component port,
// bit 2 the sender's port, bit 3 a sender on this machine), the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channel/datagram_channel.h"
#include "channel/logon_report.h"
#include "wire/msg_header.h"
#include "config/configuration.h"
#include "phone/net_device_table.h"
#include "platform/file_time.h"
#include "support/fake_sockets.h"

namespace {

using namespace corvane;

class StepClock final : public IClock {
public:
    uint32_t GetTickCount() override { return m_tick; }
    FileTime GetSystemTimeAsFileTime() override { return m_now; }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t ms) override { Advance(ms); }
    void Advance(uint32_t ms) {
        m_tick += ms;
        m_now += static_cast<FileTime>(ms) * 10000;
    }

private:
    uint32_t m_tick = 1000;
    FileTime m_now = UnixSecondsToFileTime(1767225600);  // 2026-01-01
};

void Check(bool condition) {
    if (!condition) std::abort();
}

struct World {
    World() {
        platform.clock = &clock;
        platform.sockets = &sockets;
        config.g_strHostGuid = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
        config.g_strComputerName = u"FUZZPC";
        config.g_pairedDevices = {u"phone-1", u"PHONE-2"};
        LogonReportHooks& hooks = reports.Hooks();
        hooks.InsertLogonResultAudit = [](const LogonResultReport& r) { Check(r.devGuid.size() <= 40 && r.logonServer.size() <= 16); };
        hooks.WriteEventLine = [](std::u16string_view line) { Check(line.substr(0, 7) == u"Zentik:"); };
        hooks.CreateCardReaderDevice = [](std::u16string_view, std::u16string_view) -> CDevTovrel* { return nullptr; };
        session.m_nState = 5;
        session.m_ftLogon = 1;
        queries.Hooks().ForEachSessionOfUpn = [this](std::u16string_view, const std::function<void(const CUserLog&)>& visit) {
            visit(session);
        };
        channel.Hooks().TestLogoff = [] { return 0x20000013u; };
    }

    StepClock clock;
    test::FakeSockets sockets;
    Platform platform;
    Configuration config;  // null mutexes: everything runs unlocked on this one thread
    CNetDeviceTable table {clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CUserLog session;
    CLogonReports reports {platform, config, table, devices};
    CSessionQueries queries {platform, config};
    CDatagramChannel channel {platform, config, table, reports, queries};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World w;
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    // The datagram in a buffer of exactly its own size, so that any read past it is caught.
    std::vector<uint8_t> datagram(data + 1, data + size);
    w.channel.ForwardEnabled = (flags & 1) != 0;
    w.config.g_wLogonPortUdp = (flags & 2) ? 0 : 6000;
    const SockAddrIn source =
        SockAddrIn::Inet((flags & 8) ? SockAddrIn::kLoopback : 0xC0A80114, (flags & 4) ? 45452 : 50123);
    w.sockets.sentDatagrams.clear();

    const int32_t rc = w.channel.DispatchDatagram(datagram.data(), datagram.size(), source);
    Check(rc == 0 || rc == -1 || rc == -3509);

    const auto header = MsgHeader::Decode(datagram.data(), datagram.size());
    for (const auto& sent : w.sockets.sentDatagrams) {
        Check(header.has_value());
        if (sent.to.port == Contract::DEVICE_REPLY_PORT) {
            Check(sent.to.address == source.address);
            const auto reply = MsgHeader::Decode(sent.data.data(), sent.data.size());
            Check(reply && reply->code == 0xB014 && reply->MatchesSize(sent.data.size()));
        } else {
            Check(sent.to == SockAddrIn::Inet(SockAddrIn::kLoopback, 6000));
            Check(sent.data.size() == datagram.size() + SockAddrIn::kSize);
            Check(std::memcmp(sent.data.data(), datagram.data(), datagram.size()) == 0);
        }
    }

    // Whatever got into the table can be listed, and the list frames exactly.
    ReplyArena arena;
    uint8_t* list = nullptr;
    size_t listSize = 0;
    Check(w.table.ListNetDevices(list, listSize, arena) == 0);
    Check(MsgHeader::Decode(list, listSize)->MatchesSize(listSize));

    w.clock.Advance(1000);
    w.table.AgeNetDevices();
    return 0;
}
