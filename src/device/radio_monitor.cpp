#include "device/radio_monitor.h"

namespace corvane {

namespace {
constexpr uint32_t kStepMilliseconds = 100;
}

CRadioMonitor::CRadioMonitor(CBleService& ble) : m_ble(ble) {}

bool CRadioMonitor::RadioPresent() {
    IBluetoothRadios* radios = m_ble.GetPlatform().bluetoothRadios;
    return radios && radios->IsRadioPresent();
}

bool CRadioMonitor::SleepSteps(uint32_t steps) {
    for (uint32_t i = 0; i < steps; ++i) {
        if (m_ble.App().stop.load() != 0) return false;
        m_ble.GetPlatform().clock->Sleep(kStepMilliseconds);
    }
    return m_ble.App().stop.load() == 0;
}

void CRadioMonitor::StartCompanion() {
    // One companion for the monitor's whole life; a later pass finds it still running.
    if (m_nCompanionStarts.load() != 0) return;
    BleAppState& app = m_ble.App();
    app.radioStopped = 0;
    *m_pCompanionRunning = 1;
    m_nCompanionStarts.fetch_add(1);
    IClock& clock = *m_ble.GetPlatform().clock;
    auto companion = [running = m_pCompanionRunning, &app, &clock] {
        app.radioStopped = 0;
        while (app.stop.load() == 0) clock.Sleep(kStepMilliseconds);
        app.radioStopped = 1;
        *running = 0;
    };
    if (!m_ble.GetPlatform().threads->CreateThread(companion)) {
        // No companion after all: the next pass tries again, instead of finding one counted that
        // never ran and restarting the service every 100 ms for good.
        app.radioStopped = 1;
        *m_pCompanionRunning = 0;
        m_nCompanionStarts.fetch_sub(1);
    }
}

void CRadioMonitor::Run() {
    BleAppState& app = m_ble.App();
    while (app.stop.load() == 0) {
        // 1. Wait for a radio.
        bool present = RadioPresent();
        while (!present) {
            if (!SleepSteps(kRadioPollSteps)) return;
            present = RadioPresent();
        }
        // 2. Start the library's service; 3. the companion; 4. tell the logon component.
        if (m_ble.BleLibraryLoaded()) m_ble.StartBle();
        StartCompanion();
        m_ble.NotifyStatus();
        // 5. Watch for radio loss, a restart request or the stop flag.
        for (uint32_t step = 1; app.stop.load() == 0; ++step) {
            if (m_pCompanionRunning->load() == 0) break;
            if (step % kRadioPollSteps == 0 && !m_ble.AnyPhoneConnected() && !RadioPresent()) break;
            if (app.restartRequested.exchange(0) != 0) break;
            m_ble.GetPlatform().clock->Sleep(kStepMilliseconds);
        }
        // 6. Stop the service.
        if (m_ble.BleLibraryLoaded()) {
            m_ble.StopBle();
            if (app.stop.load() != 0) return;
            m_ble.GetPlatform().clock->Sleep(kStepMilliseconds);
        }
        // 7. Tell the logon component, and look for the radio again.
        if (app.stop.load() != 0) return;
        m_ble.NotifyStatus();
    }
}

}  // namespace corvane
