// The thread that starts the BLE service while a Bluetooth radio is present and stops it when
// the radio goes away (looked for every 2 s while no phone is connected), on a restart request
// (0x4007, a resume from sleep, the PC-manager release) and at service stop. Its one companion
// thread keeps the radio-monitor-finished flag of the stop wait: cleared while the service runs,
// set once the stop flag is seen. The companion lives as long as the monitor, however many times
// the radio comes and goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "device/ble_service.h"

namespace corvane {

inline constexpr uint32_t kRadioPollSteps = 20;  // 20 x 100 ms: the radio is looked for every 2 s

class CRadioMonitor {
public:
    explicit CRadioMonitor(CBleService& ble);
    // The thread body; returns when the stop flag is set.
    void Run();
    // How many companion threads this monitor has started (one at most).
    uint32_t CompanionStarts() const { return m_nCompanionStarts.load(); }

private:
    bool RadioPresent();
    // Sleeps up to `steps` x 100 ms; false when the stop flag was set.
    bool SleepSteps(uint32_t steps);
    void StartCompanion();

    CBleService& m_ble;
    // Shared with the companion, which may outlive the monitor object by a step.
    std::shared_ptr<std::atomic<uint32_t>> m_pCompanionRunning = std::make_shared<std::atomic<uint32_t>>(0);
    std::atomic<uint32_t> m_nCompanionStarts {0};
};

}  // namespace corvane
