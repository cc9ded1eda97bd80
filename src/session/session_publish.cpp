// Publication of the logon state to the devices: who is on the console, or whom the logon
// component is logging on. With devices present it runs on a thread of its own, which first
// gives a logon in progress up to five seconds to show up, then has every device report the
// sessions to its phone on a short thread of its own.
#include "session/session_monitor.h"

namespace corvane {

void CSessionMonitor::PublishLogonState() {
    if (m_devices.IsEmpty()) {
        m_logonState.Publish();
        return;
    }
    bool expected = false;
    if (!m_bPublishing.compare_exchange_strong(expected, true)) return;  // one is running already
    {
        std::lock_guard<std::mutex> lock(m_threadMutex);
        ++m_nThreads;
    }
    const bool started = m_platform.threads->CreateThread([this] {
        RunPublication();
        std::lock_guard<std::mutex> lock(m_threadMutex);
        --m_nThreads;
        m_threadDone.notify_all();
    });
    if (!started) {
        m_bPublishing = false;
        std::lock_guard<std::mutex> lock(m_threadMutex);
        --m_nThreads;
        m_threadDone.notify_all();
    }
}

void CSessionMonitor::RunPublication() {
    IClock& clock = *m_platform.clock;
    const uint32_t start = clock.GetTickCount();
    while (m_logonState.GetConsoleUser().empty() && m_logonState.GetLogonComponentState() == 0 &&
           TicksSince(clock.GetTickCount(), start) < kPublishWaitMs) {
        clock.Sleep(kPublishPollMs);
    }
    m_bPublishing = false;
    m_logonState.Publish();
    m_devices.ForEachReferenced([this](CDevTovrel* device) {
        const bool started = m_platform.threads->CreateThread([device] {
            device->ReportSessions();
            DeviceMap::Release(device);
        });
        if (!started) DeviceMap::Release(device);
    });
}

}  // namespace corvane
