#include "device/cdev_pcsc.h"

#include <utility>
#include <vector>

#include "device/reader_name.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr uint32_t kCardStateMask = Scard::StatePresent | Scard::StateMute;

bool CardIn(uint32_t state) { return (state & kCardStateMask) == Scard::StatePresent; }
// pcsc-lite and Windows count insertions and removals in the upper 16 bits of the state.
uint32_t EventCount(uint32_t state) { return state >> 16; }

std::u16string Hex32(uint32_t value) { return AsciiToUtf16(FormatUtf8("0x%08x", value)); }
}  // namespace

CDevPCSC::CDevPCSC(CardReaderServices& services, std::u16string reader, std::u16string deviceId)
    : CDevTovrel(services.clock, std::move(deviceId), std::move(reader), DeviceKind::CardReader),
      m_services(services) {
    m_readerState.strReader = m_strName;
}

CDevPCSC::~CDevPCSC() { DropContext(); }

CDevPCSC* CDevPCSC::Create(CardReaderServices& services, std::u16string_view reader, std::u16string_view deviceId) {
    if (reader.empty() || reader.size() > Scard::kMaxReaderNameChars) return nullptr;
    if (deviceId.empty() || deviceId.size() > kCardDeviceIdChars) return nullptr;
    return new CDevPCSC(services, std::u16string(reader), std::u16string(deviceId));
}

std::u16string CDevPCSC::RefusedLine(std::u16string_view reader, std::u16string_view deviceId) {
    std::u16string line = u"Zentik:";
    line += reader.substr(0, Scard::kMaxReaderNameChars);
    line += u':';
    line += deviceId.substr(0, kCardDeviceIdChars);
    line += u"|Card Reader Refused";
    return line;
}

void CDevPCSC::StartWorker() { StartDeviceWorker(*this, m_services.worker); }

void CDevPCSC::RequestStop() {
    CDevTovrel::RequestStop();
    std::lock_guard<std::mutex> lock(m_contextMutex);
    if (m_hContext != 0) m_services.smartCards.Cancel(m_hContext);
}

bool CDevPCSC::HoldsContext() {
    std::lock_guard<std::mutex> lock(m_contextMutex);
    return m_hContext != 0;
}

uint32_t CDevPCSC::Run() {
    uint32_t result = 0;
    // The loop ends with the cycle that saw the stop, so that the card always counts as removed and
    // the offline tests run once after a stop, wherever the stop found the worker.
    while (!m_bStopSeen) {
        if (Cycle() == 1) {
            result = 1;
            break;
        }
    }
    if (IsStopping()) result = 1;
    Log(u"Card Monitoring Ended");
    return result;
}

uint32_t CDevPCSC::Cycle() {
    WaitCardChange();
    // A stop is a removal even when its cancel found no wait pending (it came while the worker read
    // the card's identity or ran the tests, or just before the wait began) and the wait ended
    // otherwise.
    if (IsStopping()) {
        m_bStopSeen = true;
        if (!IsRemoved()) MarkRemoved(u"");
    }
    if (!IsRemoved()) return 0;
    RunOfflineTests();
    std::lock_guard<std::mutex> lock(m_optionMutex);
    return m_arrOptions.empty() ? 1 : 0;
}

void CDevPCSC::WaitCardChange() {
    if (m_bPauseNext) {
        m_bPauseNext = false;
        PauseUnlessStopping(kReconnectPauseMs);
    }
    uint32_t failure = 0;
    ScardContext context = 0;
    {
        std::lock_guard<std::mutex> lock(m_contextMutex);
        context = m_hContext;
    }
    if (context == 0) {
        if (!EstablishContext()) {
            failure = Scard::E_NO_SERVICE;
        } else {
            std::lock_guard<std::mutex> lock(m_contextMutex);
            context = m_hContext;
        }
    }
    if (failure == 0 && m_services.smartCards.IsValidContext(context) != 0) {
        DropContext();
        failure = Scard::E_INVALID_HANDLE;
    }
    while (failure == 0 && !IsStopping()) {
        const bool removed = IsRemoved();
        const uint32_t rv = m_services.smartCards.GetStatusChange(context, removed ? CardOutWait() : kCardInWaitMs,
                                                                  m_readerState);
        if (rv == Scard::E_TIMEOUT) {
            // A card that came back before its token could be read gets another look each second.
            if (removed && m_bUnreadCardIn && IsOurCard()) {
                m_bRemoved = 0;
                m_dwRemovalTick = 0;
                Log(u"Card Returned");
            }
            return;
        }
        if (rv != 0) {
            // The wait failed (among others: cancelled by RequestStop, or the resource manager
            // went away). The context is not used again: after a restart of the manager an old
            // context looks valid but no call on it works.
            DropContext();
            failure = rv;
            break;
        }
        const uint32_t previous = m_readerState.dwCurrentState;
        const uint32_t event = m_readerState.dwEventState;
        const bool cardIn = CardIn(event);
        if (!cardIn) m_bUnreadCardIn = false;
        if (removed && cardIn) {
            if (IsOurCard()) {
                m_bRemoved = 0;
                m_dwRemovalTick = 0;
                Log(u"Card Returned");
                return;
            }
            // Another card, or one whose token cannot be read: the card is still out.
            if (!m_bUnreadCardIn && EventCount(event) != EventCount(previous)) Log(u"Other Card");
        }
        if (!removed && !cardIn) {
            MarkRemoved((event & Scard::StateUnknown) ? u"Reader Not Found"
                        : (event & Scard::StateMute)  ? u"Card Mute"
                                                      : u"");
            return;
        }
        // The card was out and in again between two looks of the resource manager: it may be
        // another card, which counts as a removal of this one.
        if (!removed && cardIn && CardIn(previous) && EventCount(event) != EventCount(previous) && !IsOurCard()) {
            MarkRemoved(u"Other Card");
            return;
        }
        m_readerState.dwCurrentState = event;
    }
    if (failure == 0) return;  // stopping
    // Monitoring is impossible or has ended: the card counts as removed. A cancel (a stop) needs
    // no pause; anything else waits before the next attempt.
    m_bPauseNext = failure != Scard::E_CANCELLED;
    if (m_bPauseNext && !m_bMonitoringLost) {
        m_bMonitoringLost = true;
        Log(u"Card Monitoring Lost", Hex32(failure));
    }
    if (!IsRemoved()) MarkRemoved(u"");
}

void CDevPCSC::MarkRemoved(std::u16string_view why) {
    m_dwRemovalTick = m_services.clock.GetTickCount();
    m_bRemoved = 1;
    Log(u"Card Removed", why);
}

void CDevPCSC::PauseUnlessStopping(uint32_t ms) {
    for (uint32_t slept = 0; slept < ms && !IsStopping(); slept += kStopPollMs) m_services.clock.Sleep(kStopPollMs);
}

bool CDevPCSC::EstablishContext() {
    ScardContext context = 0;
    if (m_services.smartCards.EstablishContext(Scard::ScopeSystem, context) != 0 &&
        m_services.smartCards.EstablishContext(Scard::ScopeUser, context) != 0) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_contextMutex);
        m_hContext = context;
    }
    // A new context knows nothing of the reader yet: its first wait reports the state as it is.
    m_readerState.dwCurrentState = Scard::StateUnaware;
    // A device made from a card sign-in knows its reader by the slot description, which holds only
    // 64 characters of a longer reader name: the wait needs the reader's whole name. The identity
    // of the card is still read by the description.
    if (m_readerState.strReader == m_strName) {
        std::vector<std::u16string> readers;
        if (m_services.smartCards.ListReaders(context, readers) == 0) {
            m_readerState.strReader = ReaderOfDescription(m_strName, readers);
        }
    }
    if (m_bMonitoringLost) {
        m_bMonitoringLost = false;
        Log(u"Card Monitoring Resumed");
    }
    // A stop asked while no context was held found nothing to cancel.
    if (IsStopping()) m_services.smartCards.Cancel(context);
    return true;
}

void CDevPCSC::DropContext() {
    std::lock_guard<std::mutex> lock(m_contextMutex);
    if (m_hContext == 0) return;
    m_services.smartCards.ReleaseContext(m_hContext);
    m_hContext = 0;
}

std::u16string CDevPCSC::ReadCardIdentity() {
    TokenSerial serial {};
    if (!m_services.identities.ReadTokenSerial(m_strName, serial)) return {};
    bool blank = true;
    for (uint8_t b : serial) blank = blank && b == 0;
    return blank ? std::u16string() : CardDeviceId(serial);
}

bool CDevPCSC::IsOurCard() {
    const std::u16string identity = ReadCardIdentity();
    m_bUnreadCardIn = identity.empty();
    return !identity.empty() && EqualsNoCase(identity, m_strId);
}

uint32_t CDevPCSC::CardOutWait() {
    // The wait ends early when an option's delay ends first: the offline tests then run at once,
    // and the session is locked when its delay ends, not up to a second after.
    const uint32_t lossTick = m_dwRemovalTick.load();
    const uint32_t now = m_services.clock.GetTickCount();
    uint32_t wait = kCardOutWaitMs;
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (const auto& option : m_arrOptions) {
        const uint32_t left = OfflineDelayLeft(*option, lossTick, now);
        if (left > 0 && left < wait) wait = left;
    }
    return wait;
}

void CDevPCSC::RunOfflineTests() {
    const uint32_t lossTick = m_dwRemovalTick.load();
    RunOptionTests([&](CLogonOpt& copy) { return OfflineTest(m_services.sessions, m_services.clock, copy, *this, lossTick); });
}

void CDevPCSC::Log(std::u16string_view what, std::u16string_view detail) {
    if (!m_services.writeEventLine) return;
    // "Zentik:<reader>:<card id>|<what>[|<detail>]"
    std::u16string line = u"Zentik:";
    line += m_strName;
    line += u':';
    line += m_strId;
    line += u'|';
    line += what;
    if (!detail.empty()) {
        line += u'|';
        line += detail;
    }
    m_services.writeEventLine(line);
}

}  // namespace corvane
