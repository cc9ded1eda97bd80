// The datagram channel with its tables on a test platform whose sockets are fake: datagrams the
// channel sends are recorded, none leaves the process.
#pragma once

#include "channel/datagram_channel.h"
#include "channel/logon_report.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "support/fake_sockets.h"
#include "support/test_platform.h"

namespace corvane::test {

inline constexpr char16_t kHostGuid[] = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

class ChannelWorld {
public:
    ChannelWorld() { platform.Get().sockets = &sockets; }

    Platform& Get() { return platform.Get(); }

    TestPlatform platform;
    FakeSockets sockets;
    Configuration config;

private:
    bool m_configured = Configure(platform.Get(), config);

public:
    CNetDeviceTable table {platform.clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform.Get(), config, table, devices};
    CSessionQueries queries {platform.Get(), config};
    CDatagramChannel channel {platform.Get(), config, table, reports, queries};

private:
    static bool Configure(Platform& p, Configuration& c) {
        OpenServiceMutexes(p, c);
        c.g_strHostGuid = kHostGuid;
        c.g_strComputerName = u"TESTPC";
        return true;
    }
};

}  // namespace corvane::test
