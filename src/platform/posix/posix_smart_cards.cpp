#include "platform/posix/posix_smart_cards.h"

#include <PCSC/winscard.h>

#include <algorithm>
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
    entry.dwCurrentState = Scard::StateToWaitOn(state.dwCurrentState);
    const DWORD timeout = timeoutMs == Scard::Infinite ? INFINITE : static_cast<DWORD>(timeoutMs);
    const LONG rv = SCardGetStatusChange(static_cast<SCARDCONTEXT>(context), timeout, &entry, 1);
    if (rv == SCARD_S_SUCCESS) state.dwEventState = static_cast<uint32_t>(entry.dwEventState);
    return Code(rv);
}

uint32_t PosixSmartCards::Cancel(ScardContext context) { return Code(SCardCancel(static_cast<SCARDCONTEXT>(context))); }

uint32_t PosixSmartCards::ListReaders(ScardContext context, std::vector<std::u16string>& readers) {
    readers.clear();
    DWORD size = 0;
    LONG rv = SCardListReaders(static_cast<SCARDCONTEXT>(context), nullptr, nullptr, &size);
    if (rv != SCARD_S_SUCCESS) return Code(rv);
    std::string list(size, '\0');
    rv = SCardListReaders(static_cast<SCARDCONTEXT>(context), nullptr, list.data(), &size);
    if (rv != SCARD_S_SUCCESS) return Code(rv);
    // A multi-string: names ended by a NUL each, the list by one more.
    list.resize(std::min<size_t>(size, list.size()));
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = list.find('\0', start);
        const size_t stop = end == std::string::npos ? list.size() : end;
        if (stop > start) readers.push_back(Utf8ToUtf16(std::string_view(list).substr(start, stop - start)));
        start = stop + 1;
    }
    return 0;
}

}  // namespace corvane::posix
