#include "pki/alt_names.h"

#include "crypto/der_reader.h"
#include "pki/der_reader.h"
#include "platform/text.h"

namespace corvane {

namespace {
// Sizes of the decoded structures of a 64-bit process: the info header, one entry, and an
// other-name record.
constexpr size_t kInfoSize = 16;
constexpr size_t kEntrySize = 24;
constexpr size_t kOtherNameSize = 24;

// The room one entry's decoded data takes beyond its entry record.
size_t DecodedExtra(uint32_t type, const DerItem& item, const AltNameEntry& entry) {
    switch (type) {
        case kAltNameOtherName: return kOtherNameSize + entry.otherNameOid.size() + 1 + entry.valueLength;
        case 2: case 3: case 7: return (item.length + 1) * 2;  // e-mail, DNS name, URL: wide text
        case 9: return item.length * 4 + 1;                    // registered id: dotted text
        default: return item.length;                           // blobs
    }
}
}  // namespace

bool DecodeAltNames(const uint8_t* der, size_t size, std::vector<AltNameEntry>& entries) {
    entries.clear();
    DerReader outer(der, size);
    DerItem names;
    if (!outer.Next(DerTag::Sequence, names) || !outer.AtEnd()) return false;
    size_t room = kInfoSize;
    DerReader reader(names);
    while (!reader.AtEnd()) {
        DerItem item;
        if (!reader.Next(item)) return false;
        // Context tags [0] to [8]; [0], [3], [4] and [5] are constructed.
        const uint32_t number = item.tag & 0x1F;
        if ((item.tag & 0xC0) != 0x80 || number > 8) return false;
        AltNameEntry entry;
        entry.type = number + 1;
        if (entry.type == kAltNameOtherName) {
            if (!(item.tag & 0x20)) return false;
            DerReader other(item);
            DerItem oid, value;
            if (!other.Next(DerTag::Oid, oid) || !other.Next(DerTag::ContextExplicit0, value) || !other.AtEnd()) {
                return false;
            }
            entry.otherNameOid = DecodeOid(oid.data, oid.length);
            if (entry.otherNameOid.empty()) return false;
            // The explicit tag holds exactly one encoded value.
            DerReader inner(value);
            DerItem encoded;
            if (!inner.Next(encoded) || !inner.AtEnd()) return false;
            entry.value = encoded.start;
            entry.valueLength = encoded.total;
        }
        room += kEntrySize + DecodedExtra(entry.type, item, entry);
        if (room > kAltNameDecodeRoom) return false;
        entries.push_back(std::move(entry));
    }
    return true;
}

std::optional<std::u16string> DecodeUtf8StringValue(const uint8_t* der, size_t size) {
    CDerReader reader(der, der + size);
    const uint8_t* value = nullptr;
    size_t length = 0;
    if (!reader.Element(DerTag::Utf8String, value, length)) return std::nullopt;
    const std::string_view utf8(reinterpret_cast<const char*>(value), length);
    // A NUL would cut the name short wherever it is used as a C string, so that two certificates
    // could name the same user differently.
    if (utf8.find('\0') != std::string_view::npos) return std::nullopt;
    std::u16string text = Utf8ToUtf16(utf8);
    if (text.size() > kMaxUpnChars) return std::nullopt;
    return text;
}

}  // namespace corvane
