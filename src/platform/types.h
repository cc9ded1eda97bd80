// Portable forms of the Windows values that cross the platform seam: FILETIME, GUID, the
// service status record, broken-down times and the Windows error codes the core produces.
// Nothing here includes an OS header, so the core stays portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

// 100-nanosecond intervals since 1601-01-01 (UTC unless a caller says otherwise).
using FileTime = int64_t;

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
    bool operator==(const Guid&) const = default;
};

// Broken-down calendar time, as SYSTEMTIME carries it.
struct CalendarTime {
    int year = 0;
    int month = 0;  // 1-12
    int dayOfWeek = 0;
    int day = 0;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// Windows error codes produced or passed through by the core.
namespace WinError {
constexpr uint32_t Success = 0;
constexpr uint32_t FileNotFound = 2;
constexpr uint32_t PathNotFound = 3;
constexpr uint32_t AccessDenied = 5;
constexpr uint32_t InvalidHandle = 6;
constexpr uint32_t NotEnoughMemory = 8;
constexpr uint32_t InvalidData = 13;
constexpr uint32_t OutOfMemory = 14;
constexpr uint32_t WriteFault = 29;
constexpr uint32_t NotSupported = 50;
constexpr uint32_t InvalidParameter = 87;
constexpr uint32_t CallNotImplemented = 120;
constexpr uint32_t InsufficientBuffer = 122;
constexpr uint32_t ModNotFound = 126;
constexpr uint32_t AlreadyExists = 183;
constexpr uint32_t MoreData = 234;
constexpr uint32_t NoMoreItems = 259;
constexpr uint32_t ServiceAlreadyRunning = 1056;
constexpr uint32_t ServiceDoesNotExist = 1060;
constexpr uint32_t FailedServiceControllerConnect = 1063;
constexpr uint32_t BadFormat = 11;
constexpr uint32_t KeyDeleted = 1018;
constexpr uint32_t NoSuchDomain = 1355;
constexpr uint32_t NoLogonServers = 1311;
constexpr uint32_t NotFound = 1168;
}  // namespace WinError

// Registry value types.
namespace RegType {
constexpr uint32_t None = 0;
constexpr uint32_t Sz = 1;
constexpr uint32_t Binary = 3;
constexpr uint32_t Dword = 4;
}  // namespace RegType

// Service control manager values used by the lifecycle.
namespace Svc {
constexpr uint32_t Win32OwnProcessInteractive = 0x110;
constexpr uint32_t Stopped = 1;
constexpr uint32_t StartPending = 2;
constexpr uint32_t StopPending = 3;
constexpr uint32_t Running = 4;
constexpr uint32_t ContinuePending = 5;
constexpr uint32_t PausePending = 6;
constexpr uint32_t Paused = 7;

constexpr uint32_t AcceptStop = 0x01;
constexpr uint32_t AcceptShutdown = 0x04;
constexpr uint32_t AcceptPowerEvent = 0x40;
constexpr uint32_t AcceptSessionChange = 0x80;

constexpr uint32_t ControlStop = 1;
constexpr uint32_t ControlPause = 2;
constexpr uint32_t ControlContinue = 3;
constexpr uint32_t ControlInterrogate = 4;
constexpr uint32_t ControlShutdown = 5;
constexpr uint32_t ControlParamChange = 6;
constexpr uint32_t ControlDeviceEvent = 11;
constexpr uint32_t ControlHardwareProfileChange = 12;
constexpr uint32_t ControlPowerEvent = 13;
constexpr uint32_t ControlSessionChange = 14;

constexpr uint32_t PbtApmSuspend = 0x4;
constexpr uint32_t PbtApmResumeSuspend = 0x7;
constexpr uint32_t PbtApmResumeAutomatic = 0x12;
}  // namespace Svc

// SERVICE_STATUS, field for field.
struct ServiceStatus {
    uint32_t dwServiceType = 0;
    uint32_t dwCurrentState = 0;
    uint32_t dwControlsAccepted = 0;
    uint32_t dwWin32ExitCode = 0;
    uint32_t dwServiceSpecificExitCode = 0;
    uint32_t dwCheckPoint = 0;
    uint32_t dwWaitHint = 0;
};

// WTSSESSION_NOTIFICATION, the event data of a session-change control.
struct WtsSessionNotification {
    uint32_t cbSize = sizeof(WtsSessionNotification);
    uint32_t dwSessionId = 0;
};

const char* ServiceStateName(uint32_t state);

}  // namespace corvane
