#include "support/fake_smart_cards.h"

#include <chrono>

namespace corvane::test {

uint32_t FakeSmartCards::EstablishContext(uint32_t scope, ScardContext& context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    context = 0;
    if (!m_bServiceUp || refusedScopes.count(scope)) return Scard::E_NO_SERVICE;
    context = m_nextContext++;
    m_contexts[context] = Context {m_nGeneration, false};
    ++m_nEstablished;
    return 0;
}

uint32_t FakeSmartCards::ReleaseContext(ScardContext context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_contexts.find(context);
    if (it == m_contexts.end()) return Scard::E_INVALID_HANDLE;
    m_contexts.erase(it);
    m_cv.notify_all();
    return 0;
}

uint32_t FakeSmartCards::IsValidContext(ScardContext context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // As pcsc-lite: a context from before a restart still looks valid here.
    return m_contexts.count(context) ? 0 : Scard::E_INVALID_HANDLE;
}

uint32_t FakeSmartCards::GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) {
    std::unique_lock<std::mutex> lock(m_mutex);
    struct Returned {
        FakeSmartCards& self;
        ~Returned() {
            ++self.m_nReturns;
            self.m_cv.notify_all();
        }
    } returned {*this};
    m_dwLastTimeout = timeoutMs;
    if (state.strReader.size() > Scard::kMaxReaderNameChars) return Scard::E_INVALID_PARAMETER;
    auto ctx = m_contexts.find(context);
    if (ctx == m_contexts.end()) return Scard::E_INVALID_HANDLE;
    if (!m_bServiceUp || ctx->second.generation != m_nGeneration) return Scard::E_NO_SERVICE;
    // A cancel that came while no wait was pending is not remembered.
    ctx->second.cancelled = false;
    const uint32_t generation = m_nGeneration;
    ++m_nWaiters;
    m_cv.notify_all();
    uint32_t result = 0;
    for (;;) {
        auto c = m_contexts.find(context);
        if (c == m_contexts.end()) {
            result = Scard::E_INVALID_HANDLE;
            break;
        }
        if (c->second.cancelled) {
            c->second.cancelled = false;
            result = Scard::E_CANCELLED;
            break;
        }
        if (!m_bServiceUp || generation != m_nGeneration) {
            result = Scard::F_COMM_ERROR;
            break;
        }
        auto r = m_readers.find(state.strReader);
        if (r == m_readers.end()) {
            // pcsc-lite reports a reader it does not know as unknown, once.
            const uint32_t unknown = Scard::StateUnknown | Scard::StateUnavailable;
            if ((state.dwCurrentState & unknown) != unknown) {
                state.dwEventState = unknown | Scard::StateChanged;
                break;
            }
        } else if ((Word(r->second) & ~Scard::StateChanged) != (state.dwCurrentState & ~Scard::StateChanged)) {
            state.dwEventState = Word(r->second) | Scard::StateChanged;
            break;
        }
        if (timeoutMs != Scard::Infinite && (autoTimeOut || m_nTimeOutCredits > 0)) {
            if (!autoTimeOut) --m_nTimeOutCredits;
            m_clock.Advance(timeoutMs);
            result = Scard::E_TIMEOUT;
            break;
        }
        m_cv.wait(lock);
    }
    --m_nWaiters;
    return result;
}

uint32_t FakeSmartCards::Cancel(ScardContext context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nCancels;
    auto it = m_contexts.find(context);
    if (it == m_contexts.end()) return Scard::E_INVALID_HANDLE;
    if (!m_bServiceUp || it->second.generation != m_nGeneration) return Scard::E_NO_SERVICE;
    if (m_nWaiters > 0) it->second.cancelled = true;
    m_cv.notify_all();
    return 0;
}

uint32_t FakeSmartCards::ListReaders(ScardContext context, std::vector<std::u16string>& readers) {
    std::lock_guard<std::mutex> lock(m_mutex);
    readers.clear();
    auto it = m_contexts.find(context);
    if (it == m_contexts.end()) return Scard::E_INVALID_HANDLE;
    if (!m_bServiceUp || it->second.generation != m_nGeneration) return Scard::E_NO_SERVICE;
    for (const auto& [name, reader] : m_readers) readers.push_back(name);
    return readers.empty() ? Scard::E_NO_READERS_AVAILABLE : 0;
}

void FakeSmartCards::Changed(Reader& r) {
    ++r.counter;
    m_cv.notify_all();
}

void FakeSmartCards::AddReader(const std::u16string& reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Changed(m_readers[reader]);
}

void FakeSmartCards::RemoveReader(const std::u16string& reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readers.erase(reader);
    m_cv.notify_all();
}

void FakeSmartCards::Insert(const std::u16string& reader, bool mute) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Reader& r = m_readers[reader];
    r.bits = Scard::StatePresent | (mute ? Scard::StateMute : 0);
    Changed(r);
}

void FakeSmartCards::Pull(const std::u16string& reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Reader& r = m_readers[reader];
    r.bits = Scard::StateEmpty;
    Changed(r);
}

void FakeSmartCards::Swap(const std::u16string& reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Reader& r = m_readers[reader];
    r.bits = Scard::StatePresent;
    r.counter += 2;
    m_cv.notify_all();
}

void FakeSmartCards::StopService() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bServiceUp = false;
    m_cv.notify_all();
}

void FakeSmartCards::StartService() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bServiceUp = true;
    ++m_nGeneration;
    m_cv.notify_all();
}

void FakeSmartCards::TimeOutNextWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nTimeOutCredits;
    m_cv.notify_all();
}

bool FakeSmartCards::WaitForWaiters(int n, uint32_t boundMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return m_nWaiters >= n; });
}

bool FakeSmartCards::WaitForReturns(uint64_t n, uint32_t boundMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(boundMs), [&] { return m_nReturns >= n; });
}

int FakeSmartCards::LiveContexts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_contexts.size());
}
int FakeSmartCards::Established() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nEstablished;
}
int FakeSmartCards::Cancels() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCancels;
}
uint64_t FakeSmartCards::Returns() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nReturns;
}
uint32_t FakeSmartCards::LastTimeout() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dwLastTimeout;
}

}  // namespace corvane::test
