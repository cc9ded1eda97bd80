// The smart-card resource manager (PC/SC): a context, and waiting for the state of one reader to
// change. Windows calls winscard.dll; POSIX calls pcsc-lite's client library, which talks to
// pcscd. Results are the SCARD_* values, 0 for success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

using ScardContext = uintptr_t;  // SCARDCONTEXT; 0 is no context

namespace Scard {
// Results.
constexpr uint32_t S_SUCCESS = 0;
constexpr uint32_t E_CANCELLED = 0x80100002;
constexpr uint32_t E_INVALID_HANDLE = 0x80100003;
constexpr uint32_t E_INVALID_PARAMETER = 0x80100004;
constexpr uint32_t E_UNKNOWN_READER = 0x80100009;
constexpr uint32_t E_TIMEOUT = 0x8010000A;
constexpr uint32_t F_COMM_ERROR = 0x80100013;
constexpr uint32_t E_NO_SERVICE = 0x8010001D;
constexpr uint32_t E_SERVICE_STOPPED = 0x8010001E;
constexpr uint32_t E_NO_READERS_AVAILABLE = 0x8010002E;
// Context scopes.
constexpr uint32_t ScopeUser = 0;
constexpr uint32_t ScopeSystem = 2;
// Reader state bits (dwCurrentState, dwEventState). pcsc-lite keeps an event counter in the upper
// 16 bits; it is carried from the event state into the current state like the rest.
constexpr uint32_t StateUnaware = 0x0000;
constexpr uint32_t StateIgnore = 0x0001;
constexpr uint32_t StateChanged = 0x0002;
constexpr uint32_t StateUnknown = 0x0004;
constexpr uint32_t StateUnavailable = 0x0008;
constexpr uint32_t StateEmpty = 0x0010;
constexpr uint32_t StatePresent = 0x0020;
constexpr uint32_t StateAtrMatch = 0x0040;
constexpr uint32_t StateExclusive = 0x0080;
constexpr uint32_t StateInUse = 0x0100;
constexpr uint32_t StateMute = 0x0200;
constexpr uint32_t Infinite = 0xFFFFFFFF;
// The longest reader name the resource managers take, without its terminating NUL (pcsc-lite's
// MAX_READERNAME of 128 bytes with the NUL; Windows has no smaller limit).
constexpr size_t kMaxReaderNameChars = 127;

// The current state to hand to the next wait, from the event state the last wait reported.
// CHANGED and IGNORE only describe that report: handed back, IGNORE makes Windows skip the reader
// for good (it reports UNKNOWN | CHANGED | IGNORE for a reader that is not there, so an unplugged
// reader would never be seen again). Everything else, the event counter included, stays, so a
// reader still missing is waited on as UNKNOWN instead of being reported again at once.
constexpr uint32_t StateToWaitOn(uint32_t eventState) { return eventState & ~(StateChanged | StateIgnore); }
}  // namespace Scard

// One entry of SCardGetStatusChange (SCARD_READERSTATEW). The ATR stays inside the backend: the
// service never reads it, and no ATR length can reach past a buffer of ours.
struct ScardReaderState {
    std::u16string strReader;
    uint32_t dwCurrentState = Scard::StateUnaware;
    uint32_t dwEventState = 0;
};

class ISmartCards {
public:
    virtual ~ISmartCards() = default;
    // SCardEstablishContext(scope): 0 and the context, or the error and context 0.
    virtual uint32_t EstablishContext(uint32_t scope, ScardContext& context) = 0;
    virtual uint32_t ReleaseContext(ScardContext context) = 0;
    // SCardIsValidContext: 0 when the manager still knows the context.
    virtual uint32_t IsValidContext(ScardContext context) = 0;
    // SCardGetStatusChangeW for one reader: waits at most `timeoutMs` (Scard::Infinite: no
    // limit) for its state to differ from dwCurrentState and fills dwEventState. A reader name
    // longer than Scard::kMaxReaderNameChars is refused with E_INVALID_PARAMETER.
    virtual uint32_t GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) = 0;
    // SCardCancel: a pending GetStatusChange on the context returns E_CANCELLED at once.
    virtual uint32_t Cancel(ScardContext context) = 0;
    // SCardListReadersW: the names of the readers attached now (E_NO_READERS_AVAILABLE: none).
    virtual uint32_t ListReaders(ScardContext context, std::vector<std::u16string>& readers) = 0;
};

}  // namespace corvane
