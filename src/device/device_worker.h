// The worker thread of a device: it counts itself in ActiveWorkerCount, runs the device's Run
// loop, and at its end takes the device out of the DeviceMap and gives back the map's reference
// and its own (either may destroy the device). A creator starts it only after the device is in
// the map, so that the worker can never end before the map holds the device.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/cdev_tovrel.h"
#include "device/device_map.h"
#include "platform/threads.h"

namespace corvane {

struct DeviceWorkerHost {
    IThreads& threads;
    DeviceMap& devices;
    std::atomic<int32_t>& activeWorkers;  // ActiveWorkerCount
};

// False when the thread could not start; the device has then been taken out of the map and its
// two references given back, as if its worker had ended at once.
bool StartDeviceWorker(CDevTovrel& device, DeviceWorkerHost& host);

}  // namespace corvane
