#include "platform/win32/win32_smart_cards.h"

#include "platform/win32/win32_api.h"

#include <winscard.h>

#include <algorithm>
#include <string>

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {
uint32_t Code(LONG rv) { return static_cast<uint32_t>(rv); }
}  // namespace

uint32_t Win32SmartCards::EstablishContext(uint32_t scope, ScardContext& context) {
    SCARDCONTEXT handle = 0;
    const LONG rv = ::SCardEstablishContext(scope, nullptr, nullptr, &handle);
    context = rv == SCARD_S_SUCCESS ? static_cast<ScardContext>(handle) : 0;
    return Code(rv);
}

uint32_t Win32SmartCards::ReleaseContext(ScardContext context) {
    return Code(::SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

uint32_t Win32SmartCards::IsValidContext(ScardContext context) {
    return Code(::SCardIsValidContext(static_cast<SCARDCONTEXT>(context)));
}

uint32_t Win32SmartCards::GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) {
    if (state.strReader.size() > Scard::kMaxReaderNameChars) return Scard::E_INVALID_PARAMETER;
    const std::wstring reader = Wide(state.strReader);
    SCARD_READERSTATEW entry {};
    entry.szReader = reader.c_str();
    entry.dwCurrentState = Scard::StateToWaitOn(state.dwCurrentState);
    const DWORD timeout = timeoutMs == Scard::Infinite ? INFINITE : static_cast<DWORD>(timeoutMs);
    const LONG rv = ::SCardGetStatusChangeW(static_cast<SCARDCONTEXT>(context), timeout, &entry, 1);
    if (rv == SCARD_S_SUCCESS) state.dwEventState = entry.dwEventState;
    return Code(rv);
}

uint32_t Win32SmartCards::Cancel(ScardContext context) {
    return Code(::SCardCancel(static_cast<SCARDCONTEXT>(context)));
}

uint32_t Win32SmartCards::ListReaders(ScardContext context, std::vector<std::u16string>& readers) {
    readers.clear();
    DWORD chars = 0;
    LONG rv = ::SCardListReadersW(static_cast<SCARDCONTEXT>(context), nullptr, nullptr, &chars);
    if (rv != SCARD_S_SUCCESS) return Code(rv);
    std::wstring list(chars, L'\0');
    rv = ::SCardListReadersW(static_cast<SCARDCONTEXT>(context), nullptr, list.data(), &chars);
    if (rv != SCARD_S_SUCCESS) return Code(rv);
    // A multi-string: names ended by a NUL each, the list by one more.
    list.resize(std::min<size_t>(chars, list.size()));
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = list.find(L'\0', start);
        const size_t stop = end == std::wstring::npos ? list.size() : end;
        if (stop > start) readers.push_back(FromWide(list.data() + start, stop - start));
        start = stop + 1;
    }
    return 0;
}

}  // namespace corvane::win32
