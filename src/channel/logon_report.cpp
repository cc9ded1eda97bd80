#include "channel/logon_report.h"

#include "wire/companion_contract.h"
#include "wire/result_codes.h"
#include "platform/text.h"

namespace corvane {

CLogonReports::CLogonReports(Platform& platform, Configuration& config, CNetDeviceTable& netDevices,
                             DeviceMap& devices, LogonReportHooks hooks)
    : m_platform(platform),
      m_config(config),
      m_netDevices(netDevices),
      m_devices(devices),
      m_hooks(std::move(hooks)) {}

std::u16string CLogonReports::OperationName(uint16_t operation) {
    uint32_t id;
    const char16_t* fallback;
    switch (operation) {
        case 1: id = kTextLogon; fallback = u"Logon"; break;
        case 2: id = kTextUnlock; fallback = u"Unlock"; break;
        case 3: id = kTextRelogon; fallback = u"Re-Logon"; break;
        default: return {};
    }
    std::u16string text = m_hooks.GetText ? m_hooks.GetText(id) : std::u16string();
    return text.empty() ? std::u16string(fallback) : text;
}

std::u16string CLogonReports::FormatReportLine(const LogonResultReport& r) {
    const std::string codes = FormatUtf8("0x%08x:0x%08x", r.result, r.resultSub);
    std::u16string line = u"Zentik:";
    line.append(r.computerName).append(u"|");
    line.append(r.logonServer).append(u"\\").append(r.userName).append(u"|");
    line.append(OperationName(r.operation)).append(u"|");
    line.append(r.devName).append(u":").append(r.devGuid).append(u"|");
    line.append(AsciiToUtf16(codes)).append(u"|");
    line.append(r.errMsg);
    return line;
}

int32_t CLogonReports::HandleLogonResultReport(const uint8_t* message, size_t size) {
    LogonResultReport report;
    if (!DecodeLogonResultReport(message, size, report)) return Result::DatagramDropped;

    if (m_hooks.InsertLogonResultAudit) m_hooks.InsertLogonResultAudit(report);
    if (m_hooks.WriteEventLine) m_hooks.WriteEventLine(FormatReportLine(report));

    // A failed attempt is recorded but attaches nothing to any device.
    if (report.result == 0) AttachLogon(report);
    return 0;
}

void CLogonReports::AttachLogon(const LogonResultReport& r) {
    if (r.devType == DeviceKind::NetworkPhone) {
        // An absent network device is not created.
        m_netDevices.AddNetLogonOption(r.devGuid, r.userName, r.logonServer, r.logonOption, r.logonParam);
        return;
    }
    if (CDevTovrel* device = m_devices.Find(r.devGuid)) {
        device->AddLogonOption(r.userName, r.logonServer, r.logonOption, r.logonParam);
        DeviceMap::Release(device);
        return;
    }
    // A card logon through a reader the service does not watch yet brings its device to life.
    if (r.devType != DeviceKind::CardReader || !m_hooks.CreateCardReaderDevice) return;
    if (CDevTovrel* created = m_hooks.CreateCardReaderDevice(r.devName, r.devGuid)) {
        // The card's confirmation on the control thread may create the same device at the same time.
        AddLogonOptionToCreated(m_devices, created, r.userName, r.logonServer, r.logonOption, r.logonParam);
    }
}

}  // namespace corvane
