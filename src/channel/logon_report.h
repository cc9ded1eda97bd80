// What the service does with the logon component's logon result reports (0x3013, from the
// datagram channel and, later, the stream channel): audit row, event line and the logon option
// of the device. A network phone's session query has its own handler (session_query.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "channel/logon_report_codec.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/platform.h"

namespace corvane {

// Text ids of the operation names (defaults "Logon", "Unlock", "Re-Logon").
inline constexpr uint32_t kTextLogon = 0x0B;
inline constexpr uint32_t kTextUnlock = 0x0C;
inline constexpr uint32_t kTextRelogon = 0x0D;

// The reports' reach into the records and the card readers. An empty hook is a part that is
// not in this build: its step is skipped.
struct LogonReportHooks {
    // The audit row of a logon result (event 100 + operation).
    std::function<void(const LogonResultReport&)> InsertLogonResultAudit;
    // One line of the text event log.
    std::function<void(std::u16string_view line)> WriteEventLine;
    // A message text in the service's language; empty means the built-in English text.
    std::function<std::u16string(uint32_t id)> GetText;
    // Constructs the reader device of a smart card (reader name, device id), its worker not yet
    // started; null when it cannot.
    std::function<CDevTovrel*(std::u16string_view reader, std::u16string_view deviceId)> CreateCardReaderDevice;
};

class CLogonReports {
public:
    CLogonReports(Platform& platform, Configuration& config, CNetDeviceTable& netDevices, DeviceMap& devices,
                  LogonReportHooks hooks = {});
    CLogonReports(const CLogonReports&) = delete;
    CLogonReports& operator=(const CLogonReports&) = delete;

    // 0 when handled; -1 when the report fails its size checks (then nothing is recorded).
    int32_t HandleLogonResultReport(const uint8_t* message, size_t size);

    // The event line of a report: "Zentik:computer|domain\user|operation|device:id|0xresult:0xsub|text".
    std::u16string FormatReportLine(const LogonResultReport& report);

    LogonReportHooks& Hooks() { return m_hooks; }

private:
    std::u16string OperationName(uint16_t operation);
    void AttachLogon(const LogonResultReport& report);

    Platform& m_platform;
    Configuration& m_config;
    CNetDeviceTable& m_netDevices;
    DeviceMap& m_devices;
    LogonReportHooks m_hooks;
};

}  // namespace corvane
