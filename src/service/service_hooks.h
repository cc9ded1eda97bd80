// The workers and tables the service lifecycle starts, stops and frees, as hooks. The
// composition root (service_objects.cpp) fills them with the subsystems' entry points; tests fill
// them with stand-ins (a worker that never ends, a recorder of the stop order). An empty hook is
// a subsystem that is not part of this build: its step is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace corvane {

class CCorvaneApp;

struct ServiceHooks {
    // Start, in this order, on the service main thread.
    std::function<uint32_t()> InitP11;         // PKCS#11 binding and its slot event thread
    std::function<uint32_t()> LoadBleLibrary;  // the BLE library
    // Thread bodies, started with the application object as argument. Each sets its stopped flag
    // (m_bUdpStopped, m_bTcpStopped, m_bRadioStopped) to 0 when it starts and to 1 when it ends.
    std::function<void(CCorvaneApp&)> DatagramThread;
    std::function<void(CCorvaneApp&)> StreamListenerThread;
    std::function<void(CCorvaneApp&)> RadioMonitorThread;
    // Fills the session table from the sessions that already exist (2000 ms after running).
    std::function<bool()> EnumerateSessions;

    // Control handler.
    std::function<void(uint32_t eventType, const WtsSessionNotification* notification)> OnSessionChange;

    // Stop sequence.
    std::function<void(const uint8_t* bleStatus, size_t size)> SendStatusNotification;  // one-shot thread body
    std::function<void()> FinP11;
    std::function<void()> RequestStopDevices;  // RequestStop on every device of the device map
    std::function<bool()> BleLibraryLoaded;
    std::function<void()> StopBle;

    // ExitInstance, in this order.
    std::function<void()> FreeNetworkDevices;
    std::function<void()> FreeDeviceMap;
    std::function<void()> FreeSessionTable;

    // Command-line verbs.
    std::function<int()> InstallService;    // 1 success, 0 failure
    std::function<int()> UninstallService;  // non-zero success
    // Host key step of the configuration load.
    std::function<uint32_t()> LoadHostKey;
    // After the configuration: says once what would otherwise fail unnoticed (an unusable audit
    // file).
    std::function<void()> ReportStartProblems;

    // The audit shipper: started just before the service reports that it runs, stopped first in
    // the stop sequence; a user-defined control (128-255) goes to OnUserControl, which tells
    // whether it knew it.
    std::function<void()> StartAuditShipper;
    std::function<void()> StopAuditShipper;
    std::function<bool(uint32_t control)> OnUserControl;

    // The parts the composition root could not wire because their subsystem is not built yet
    // (handlers inside the channels and the session monitor), one name each.
    std::function<std::vector<std::string>()> UnwiredParts;
};

}  // namespace corvane
