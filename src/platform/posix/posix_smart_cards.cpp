#include "platform/posix/posix_smart_cards.h"

#include <PCSC/winscard.h>

#include <string>

#include "platform/text.h"

namespace corvane::posix {

namespace {
// pcsc-lite returns LONG values that carry the 32-bit SCARD_* codes.
uint32_t Code(LONG rv) { return static_cast<uint32_t>(rv); }
}  // namespace

uint32_t PosixSmartCards::EstablishContext(uint32_t scope, ScardContext& context) {
    SCARDCONTEXT handle = 0;
    const LONG rv = SCardEstablishContext(scope, nullptr, nullptr, &handle);
    context = rv == SCARD_S_SUCCESS ? static_cast<ScardContext>(handle) : 0;
    return Code(rv);
}

uint32_t PosixSmartCards::ReleaseContext(ScardContext context) {
    return Code(SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

uint32_t PosixSmartCards::IsValidContext(ScardContext context) {
    return Code(SCardIsValidContext(static_cast<SCARDCONTEXT>(context)));
}

uint32_t PosixSmartCards::GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) {
    if (state.strReader.size() > Scard::kMaxReaderNameChars) return Scard::E_INVALID_PARAMETER;
    const std::string reader = Utf16ToUtf8(state.strReader);
    if (reader.size() >= MAX_READERNAME) return Scard::E_INVALID_PARAMETER;
    SCARD_READERSTATE entry {};
    entry.szReader = reader.c_str();
    entry.dwCurrentState = state.dwCurrentState;
    const DWORD timeout = timeoutMs == Scard::Infinite ? INFINITE : static_cast<DWORD>(timeoutMs);
    const LONG rv = SCardGetStatusChange(static_cast<SCARDCONTEXT>(context), timeout, &entry, 1);
    if (rv == SCARD_S_SUCCESS) state.dwEventState = static_cast<uint32_t>(entry.dwEventState);
    return Code(rv);
}

uint32_t PosixSmartCards::Cancel(ScardContext context) { return Code(SCardCancel(static_cast<SCARDCONTEXT>(context))); }

}  // namespace corvane::posix
