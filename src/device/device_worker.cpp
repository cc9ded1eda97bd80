#include "device/device_worker.h"

namespace corvane {

namespace {
void EndWorker(CDevTovrel* device, DeviceMap& devices) {
    MutexGuard lock(devices.Mutex());
    const bool mapped = devices.Remove(device->GetId());
    if (mapped) DeviceMap::Release(device);  // the map's reference
    DeviceMap::Release(device);              // the worker's own, from construction
}
}  // namespace

bool StartDeviceWorker(CDevTovrel& device, DeviceWorkerHost& host) {
    CDevTovrel* self = &device;
    // Counted before the thread exists, so that the stop sequence never sees zero workers while
    // one is about to start.
    host.activeWorkers.fetch_add(1);
    const bool started = host.threads.CreateThread([self, &host] {
        self->Run();
        EndWorker(self, host.devices);
        host.activeWorkers.fetch_sub(1);
    });
    if (!started) {
        EndWorker(self, host.devices);
        host.activeWorkers.fetch_sub(1);
    }
    return started;
}

}  // namespace corvane
