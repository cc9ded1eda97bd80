#include "device/reader_name.h"

#include "platform/text.h"

namespace corvane {

namespace {
std::u16string_view TrimTrailingBlanks(std::u16string_view text) {
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return text;
}
}  // namespace

std::u16string ReaderOfDescription(std::u16string_view name, const std::vector<std::u16string>& readers) {
    if (name.empty() || name.size() > kReaderDescriptionChars) return std::u16string(name);
    const std::u16string* match = nullptr;
    size_t matches = 0;
    for (const std::u16string& reader : readers) {
        if (reader == name) return reader;
        if (reader.size() <= kReaderDescriptionChars) continue;
        const std::u16string_view whole(reader);
        if (EqualsNoCase(TrimTrailingBlanks(whole.substr(0, kReaderDescriptionChars)), name) ||
            EqualsNoCase(whole.substr(whole.size() - kReaderDescriptionChars), name)) {
            match = &reader;
            ++matches;
        }
    }
    return matches == 1 ? *match : std::u16string(name);
}

std::u16string ReaderOfDescription(ISmartCards& smartCards, std::u16string_view name) {
    if (name.empty() || name.size() > kReaderDescriptionChars) return std::u16string(name);
    ScardContext context = 0;
    if (smartCards.EstablishContext(Scard::ScopeSystem, context) != 0 &&
        smartCards.EstablishContext(Scard::ScopeUser, context) != 0) {
        return std::u16string(name);
    }
    std::vector<std::u16string> readers;
    const uint32_t rc = smartCards.ListReaders(context, readers);
    smartCards.ReleaseContext(context);
    return rc == 0 ? ReaderOfDescription(name, readers) : std::u16string(name);
}

}  // namespace corvane
