// The two statement shapes of the audit table, formatted with their values. Every text value is
// quoted with SqlQuote; numbers are written as signed 32-bit decimals. The text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct SessionRowValues {
    std::u16string_view logonServer;
    std::u16string_view userName;
    int32_t localUser = 0;
    int32_t eventType = 0;
    std::u16string_view eventTime;
    int32_t desktopType = 0;
    int32_t result = 0;
    int32_t uploadFlag = 0;
};

struct DeviceRowValues {
    std::u16string_view logonServer;
    std::u16string_view userName;
    int32_t localUser = 0;
    int32_t eventType = 0;
    std::u16string_view eventTime;
    int32_t devType = 0;
    std::u16string_view devGuid;
    std::u16string_view devName;
    int32_t result = 0;
    int32_t resultSub = 0;
    std::u16string_view errMsg;
    int32_t logonOption = 0;
    int32_t logonParam = 0;
    int32_t uploadFlag = 0;
};

std::string FormatSessionInsert(const SessionRowValues& row);
std::string FormatDeviceInsert(const DeviceRowValues& row);

// 1 when the user's domain is this computer (a local account), else 0.
int32_t LocalUserFlag(std::u16string_view logonServer, std::u16string_view computerName);
// Desktop of a session event: 1 for the window station "Console", 2 for one starting with
// "RDP-Tcp" (both ignoring case), else the session record's own desktop kind.
int32_t DesktopTypeForWinStation(std::u16string_view winStation, int32_t recordDesktop);
// The dev_guid of a device: for a smart-card token (kind 3) whose id is GUID text, the 16 bytes
// of the GUID read as a NUL-terminated 8-bit string (the token serial); otherwise the id.
std::u16string AuditDeviceId(int32_t devType, std::u16string_view deviceId);

}  // namespace corvane
