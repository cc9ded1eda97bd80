// CDevPCSC: one smart card in one reader, watched through the smart-card resource manager after a
// user logged on with it. When the card leaves the reader (or turns mute, or monitoring fails),
// the worker runs the offline tests of the card's logon options once a second, which lock or log
// off the sessions concerned; when the same card comes back first, watching simply goes on. The
// device ends when no option is left after a removal, or when the service stops.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "device/card_identity.h"
#include "device/cdev_tovrel.h"
#include "device/device_worker.h"
#include "device/presence_tests.h"
#include "platform/smart_cards.h"

namespace corvane {

// The wait while the card is out: the offline tests run after each one.
inline constexpr uint32_t kCardOutWaitMs = 1000;
// The wait while the card is in. The service's own wait would be infinite; it is cut into
// bounded pieces because a cancel that reaches the resource manager before the wait has begun is
// lost, and a stop must never hang on it.
inline constexpr uint32_t kCardInWaitMs = 5000;
// After monitoring failed (no resource manager, a dead context), the next attempt waits this
// long, so that a resource manager that is down never makes the worker spin.
inline constexpr uint32_t kReconnectPauseMs = 1000;
inline constexpr uint32_t kStopPollMs = 100;
// A device id is the GUID text of the card's serial.
inline constexpr size_t kCardDeviceIdChars = 38;

// What the reader device needs of the rest of the service.
struct CardReaderServices {
    IClock& clock;
    ISmartCards& smartCards;
    ICardIdentitySource& identities;
    IDeviceSessions& sessions;
    DeviceWorkerHost& worker;
    // One line to the text event log.
    std::function<void(std::u16string_view line)> writeEventLine;
};

class CDevPCSC final : public CDevTovrel {
public:
    // The worker is not started here: the creator starts it once the device is in the map.
    CDevPCSC(CardReaderServices& services, std::u16string reader, std::u16string deviceId);
    // Also releases the resource-manager context, if one is held.
    ~CDevPCSC() override;

    // A reader name longer than the resource manager takes, an empty one, or a device id that is
    // not a card identity (empty or longer than GUID text) is refused: no device is made (null).
    static CDevPCSC* Create(CardReaderServices& services, std::u16string_view reader, std::u16string_view deviceId);
    // The event line for a refused creation; the texts are cut to their fields.
    static std::u16string RefusedLine(std::u16string_view reader, std::u16string_view deviceId);

    void StartWorker() override;
    // Sets the stop flag and cancels the pending wait, so that Run ends at once.
    void RequestStop() override;
    // The card-removal loop; 1 when the device ends because no option is left.
    uint32_t Run() override;

    // The identity of the card now in the reader (GUID text of its token serial), or empty.
    std::u16string ReadCardIdentity();

    // For tests and diagnostics.
    bool IsRemoved() const { return m_bRemoved.load() != 0; }
    uint32_t RemovalTick() const { return m_dwRemovalTick.load(); }
    bool HoldsContext();

private:
    uint32_t Cycle();
    void WaitCardChange();
    // Step out of watching: the card counts as removed from now on.
    void MarkRemoved(std::u16string_view why);
    // Sleeps up to `ms` in pieces, returning early when a stop is asked.
    void PauseUnlessStopping(uint32_t ms);
    bool EstablishContext();
    void DropContext();
    bool IsOurCard();
    void RunOfflineTests();
    // The wait while the card is out: kCardOutWaitMs, or less when an option's delay ends sooner.
    uint32_t CardOutWait();
    void Log(std::u16string_view what, std::u16string_view detail = u"");

    CardReaderServices& m_services;
    // The context is shared with RequestStop (its cancel is the only use from another thread):
    // the mutex keeps the cancel and the release of one context apart.
    std::mutex m_contextMutex;
    ScardContext m_hContext = 0;
    ScardReaderState m_readerState;  // the worker's alone
    std::atomic<uint32_t> m_bRemoved {0};
    std::atomic<uint32_t> m_dwRemovalTick {0};
    bool m_bPauseNext = false;         // the last attempt failed: pause before the next one
    bool m_bUnreadCardIn = false;      // a card is in whose identity could not yet be read
    bool m_bMonitoringLost = false;    // logged once per loss
    bool m_bStopSeen = false;          // a cycle has seen the stop: it is the last one
};

}  // namespace corvane
