// A resource manager for tests: readers whose cards a test inserts, pulls, swaps or mutes, a
// service that can die and come back, and waits the test releases. A wait with no change pending
// blocks: an infinite one until something changes, a finite one also until the test lets it time
// out (TimeOutNextWait: the wait that is pending, or else the next one, advances the fake clock by
// its time-out, as if it had run out), or at once when autoTimeOut is set. Contexts behave as pcsc-lite's do across a restart of pcscd: a pending
// wait fails with F_COMM_ERROR, and an old context still passes IsValidContext but every other
// call on it fails with E_NO_SERVICE.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/smart_cards.h"
#include "support/fake_clock.h"

namespace corvane::test {

class FakeSmartCards final : public ISmartCards {
public:
    explicit FakeSmartCards(FakeClock& clock) : m_clock(clock) {}

    uint32_t EstablishContext(uint32_t scope, ScardContext& context) override;
    uint32_t ReleaseContext(ScardContext context) override;
    uint32_t IsValidContext(ScardContext context) override;
    uint32_t GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) override;
    uint32_t Cancel(ScardContext context) override;
    uint32_t ListReaders(ScardContext context, std::vector<std::u16string>& readers) override;

    // The machine's readers and cards.
    void AddReader(const std::u16string& reader);
    void RemoveReader(const std::u16string& reader);
    void Insert(const std::u16string& reader, bool mute = false);
    void Pull(const std::u16string& reader);
    // The card goes out and in again between two looks: still present, one more event each way.
    void Swap(const std::u16string& reader);
    // The resource manager stops (pending waits fail) or starts again (old contexts are dead).
    void StopService();
    void StartService();
    // Scopes the manager refuses (EstablishContext fails with E_NO_SERVICE for them).
    std::set<uint32_t> refusedScopes;
    // Finite waits time out at once instead of blocking.
    bool autoTimeOut = false;

    // One finite wait that finds no change times out: the pending one, or else the next.
    void TimeOutNextWait();
    // Waits (real time, at most `boundMs`) until `n` waits are pending; false when they are not.
    bool WaitForWaiters(int n, uint32_t boundMs = 5000);
    // Waits (real time, bounded) until at least `n` calls to GetStatusChange have returned.
    bool WaitForReturns(uint64_t n, uint32_t boundMs = 5000);

    int LiveContexts() const;
    int Established() const;
    int Cancels() const;
    uint64_t Returns() const;
    uint32_t LastTimeout() const;

private:
    struct Reader {
        uint32_t bits = Scard::StateEmpty;
        uint32_t counter = 0;  // pcsc-lite's event counter, in the upper 16 bits
    };
    struct Context {
        uint32_t generation = 0;  // the service's life it was made in
        bool cancelled = false;
    };
    uint32_t Word(const Reader& r) const { return r.bits | (r.counter << 16); }
    void Changed(Reader& r);

    FakeClock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<std::u16string, Reader> m_readers;
    std::map<ScardContext, Context> m_contexts;
    ScardContext m_nextContext = 0x100;
    bool m_bServiceUp = true;
    uint32_t m_nGeneration = 1;
    int m_nTimeOutCredits = 0;
    int m_nWaiters = 0;
    int m_nEstablished = 0;
    int m_nCancels = 0;
    uint64_t m_nReturns = 0;
    uint32_t m_dwLastTimeout = 0;
};

}  // namespace corvane::test
