#include "service/service_snapshot_collect.h"

#include <algorithm>

#include "audit/audit_statements.h"
#include "config/configuration.h"
#include "device/cdev_bth.h"
#include "device/cdev_pcsc.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/file_time.h"
#include "platform/named_mutex.h"
#include "platform/text.h"
#include "session/session_monitor.h"

namespace corvane {

namespace {
std::string Utf8(const std::u16string& text) { return Utf16ToUtf8(text); }

bool IsPaired(const std::vector<std::u16string>& paired, const std::u16string& id) {
    return std::any_of(paired.begin(), paired.end(), [&](const std::u16string& p) { return EqualsNoCase(p, id); });
}

std::vector<SnapshotOption> CopyOptions(const std::vector<CLogonOpt>& options) {
    std::vector<SnapshotOption> out;
    for (const CLogonOpt& o : options) {
        out.push_back({Utf8(o.m_strUser), Utf8(o.m_strDomain), o.m_nOption, o.m_nDelay, o.m_bHandled != 0});
    }
    return out;
}

uint32_t Since(uint32_t now, uint32_t tick) { return tick == 0 ? 0 : now - tick; }

// Under the DeviceMap mutex: what the device can tell without waiting on its link.
SnapshotDevice DescribeDevice(CDevTovrel& device, uint32_t nowTick) {
    SnapshotDevice d;
    d.kind = device.GetKind();
    d.id = Utf8(device.GetId());
    d.name = Utf8(device.GetName());
    if (auto* phone = dynamic_cast<CDevBth*>(&device)) {
        const PhoneListFields fields = phone->GetPhoneListFields();
        d.connected = phone->IsConnected();
        d.present = phone->IsPresent();
        d.closed = !d.connected && d.present;
        d.keyed = phone->IsKeyed();
        d.lostForMs = Since(nowTick, phone->GetLossTick());
        d.haveRssi = fields.haveRssi;
        d.rssi = fields.lastRssi;
    } else if (auto* card = dynamic_cast<CDevPCSC*>(&device)) {
        d.serial = Utf8(AuditDeviceId(DeviceKind::CardReader, device.GetId()));
        d.removed = card->IsRemoved();
        d.removedForMs = d.removed ? Since(nowTick, card->RemovalTick()) : 0;
    }
    d.options = CopyOptions(device.CopyLogonOptions());
    return d;
}
}  // namespace

ServiceSnapshot CollectDeviceSnapshot(SnapshotSources& sources) {
    ServiceSnapshot snapshot;
    snapshot.now = FileTimeToUnixSeconds(sources.clock.GetSystemTimeAsFileTime());
    std::vector<std::u16string> paired;
    {
        MutexGuard pairedLock(sources.config.m_hPairedMutex);
        paired = sources.config.g_pairedDevices;
    }
    // The network device table, then DeviceMap inside it, as every walk over both nests them.
    MutexGuard netLock(sources.config.m_hDevNetMutex);
    if (sources.netDevices) {
        sources.netDevices->ForEachNetDevice([&](const CDevNet& net) {
            SnapshotDevice d;
            d.kind = DeviceKind::NetworkPhone;
            d.id = Utf8(net.m_strId);
            d.name = Utf8(net.m_strName);
            d.paired = IsPaired(paired, net.m_strId);
            d.address = Utf8(net.m_strAddress);
            d.port = net.m_wPort;
            d.value = net.m_dwValue;
            d.lastSeen = net.m_tLastSeen;
            for (const auto& o : net.m_arrLogonOpt) {
                d.options.push_back({Utf8(o->m_strUser), Utf8(o->m_strDomain), o->m_nOption, o->m_nDelay,
                                     o->m_bHandled != 0});
            }
            snapshot.devices.push_back(std::move(d));
        });
    }
    if (sources.devices) {
        const uint32_t nowTick = sources.clock.GetTickCount();
        sources.devices->ForEach(
            [&](CDevTovrel& device) { snapshot.devices.push_back(DescribeDevice(device, nowTick)); });
    }
    std::stable_sort(snapshot.devices.begin(), snapshot.devices.end(), [](const SnapshotDevice& a, const SnapshotDevice& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.id < b.id;
    });
    return snapshot;
}

ServiceSnapshot CollectSessionSnapshot(SnapshotSources& sources) {
    ServiceSnapshot snapshot;
    snapshot.now = FileTimeToUnixSeconds(sources.clock.GetSystemTimeAsFileTime());
    if (!sources.sessions) return snapshot;
    snapshot.consoleUser = Utf8(sources.sessions->LogonState().GetConsoleUser());
    CSessionTable& table = sources.sessions->Table();
    MutexGuard lock(table.Mutex());
    for (const auto& r : table.Records()) {
        snapshot.sessions.push_back({r->m_nSession, Utf8(r->m_strUser), Utf8(r->m_strDomain), Utf8(r->m_strWinStation),
                                     r->m_nState, r->m_nDesktop, Utf8(r->m_strUpn), r->m_ftLogon, r->m_ftActive,
                                     r->m_ftLocked});
    }
    return snapshot;
}

ServiceQueryHandler MakeSnapshotQueryHandler(SnapshotSources sources) {
    return [sources](std::string_view question, std::vector<std::string>& lines) mutable {
        if (question == "devices") {
            lines = EncodeSnapshot(CollectDeviceSnapshot(sources));
            return true;
        }
        if (question == "sessions") {
            lines = EncodeSnapshot(CollectSessionSnapshot(sources));
            return true;
        }
        return false;
    };
}

}  // namespace corvane
