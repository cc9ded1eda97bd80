#include "device/device_worker.h"

namespace corvane {

bool StartDeviceWorker(CDevTovrel& device, DeviceWorkerHost& host) {
    CDevTovrel* self = &device;
    // Counted before the thread exists, so that the stop sequence never sees zero workers while
    // one is about to start.
    host.activeWorkers.fetch_add(1);
    const bool started = host.threads.CreateThread([self, &host] {
        self->Run();
        host.devices.EndWorker(self);
        host.activeWorkers.fetch_sub(1);
    });
    if (!started) {
        host.devices.EndWorker(self);
        host.activeWorkers.fetch_sub(1);
    }
    return started;
}

}  // namespace corvane
