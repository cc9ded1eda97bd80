#include "pki/crl_decoder.h"

#include <algorithm>

#include "pki/der_reader.h"
#include "platform/file_time.h"

namespace corvane {

namespace {

bool Digits(const uint8_t* p, size_t n, int& value) {
    value = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

// UTCTime "YYMMDDHHMMSSZ" or GeneralizedTime "YYYYMMDDHHMMSSZ".
bool DecodeTime(const DerItem& item, FileTime& out) {
    size_t yearDigits;
    if (item.tag == DerTag::UtcTime && item.length == 13) {
        yearDigits = 2;
    } else if (item.tag == DerTag::GeneralizedTime && item.length == 15) {
        yearDigits = 4;
    } else {
        return false;
    }
    const uint8_t* p = item.data;
    if (p[item.length - 1] != 'Z') return false;
    CalendarTime t;
    if (!Digits(p, yearDigits, t.year)) return false;
    if (yearDigits == 2) t.year += t.year >= 50 ? 1900 : 2000;
    p += yearDigits;
    if (!Digits(p, 2, t.month) || !Digits(p + 2, 2, t.day) || !Digits(p + 4, 2, t.hour) ||
        !Digits(p + 6, 2, t.minute) || !Digits(p + 8, 2, t.second)) {
        return false;
    }
    if (t.year < 1601 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 60) {
        return false;
    }
    out = CalendarToFileTime(t);
    return true;
}

std::vector<uint8_t> Serial(const DerItem& item) {
    const uint8_t* p = item.data;
    size_t n = item.length;
    while (n > 1 && *p == 0) { ++p; --n; }
    return {p, p + n};
}

bool DecodeAlgorithm(DerReader& reader, std::string& oid) {
    DerItem algorithm, id;
    if (!reader.Next(DerTag::Sequence, algorithm)) return false;
    DerReader inner(algorithm);
    if (!inner.Next(DerTag::Oid, id)) return false;
    oid = DecodeOid(id.data, id.length);
    return !oid.empty();
}

bool DecodeRevoked(const DerItem& list, std::vector<std::vector<uint8_t>>& serials) {
    DerReader reader(list);
    while (!reader.AtEnd()) {
        DerItem entry, serial, date;
        if (!reader.Next(DerTag::Sequence, entry)) return false;
        DerReader fields(entry);
        if (!fields.Next(DerTag::Integer, serial) || serial.length == 0 || !fields.Next(date)) return false;
        FileTime unused;
        if (!DecodeTime(date, unused)) return false;
        serials.push_back(Serial(serial));
    }
    return true;
}

bool DecodeTbs(const DerItem& tbs, DecodedCrl& out) {
    DerReader reader(tbs);
    DerItem item;
    if (reader.PeekTag() == DerTag::Integer && !reader.Next(item)) return false;
    std::string innerAlgorithm;
    if (!DecodeAlgorithm(reader, innerAlgorithm)) return false;
    if (!reader.Next(DerTag::Sequence, item)) return false;
    out.issuer.assign(item.start, item.start + item.total);
    if (!reader.Next(item) || !DecodeTime(item, out.thisUpdate)) return false;
    const uint8_t tag = reader.PeekTag();
    if (tag == DerTag::UtcTime || tag == DerTag::GeneralizedTime) {
        if (!reader.Next(item) || !DecodeTime(item, out.nextUpdate)) return false;
    }
    if (reader.PeekTag() == DerTag::Sequence) {
        if (!reader.Next(item) || !DecodeRevoked(item, out.revokedSerials)) return false;
    }
    if (reader.PeekTag() == DerTag::ContextExplicit0 && !reader.Next(item)) return false;
    // The outer algorithm must be the one that was signed.
    return reader.AtEnd() && innerAlgorithm == out.signatureAlgorithm;
}

}  // namespace

bool DecodeCrl(const uint8_t* der, size_t size, DecodedCrl& out) {
    out = {};
    if (!der || size == 0) return false;
    DerReader outer(der, size);
    DerItem list;
    if (!outer.Next(DerTag::Sequence, list) || !outer.AtEnd()) return false;
    DerReader reader(list);
    DerItem tbs, bits;
    if (!reader.Next(DerTag::Sequence, tbs) || !DecodeAlgorithm(reader, out.signatureAlgorithm) ||
        !reader.Next(DerTag::BitString, bits) || !reader.AtEnd()) {
        return false;
    }
    // A signature is whole bytes: no unused bits.
    if (bits.length < 2 || bits.data[0] != 0) return false;
    out.signature.assign(bits.data + 1, bits.data + bits.length);
    if (!DecodeTbs(tbs, out)) return false;
    out.der.assign(der, der + size);
    out.tbsOffset = static_cast<size_t>(tbs.start - der);
    out.tbsLength = tbs.total;
    return true;
}

int CrlTimeValidity(const DecodedCrl& crl, FileTime at) {
    if (at < crl.thisUpdate) return -1;
    if (crl.nextUpdate != 0 && at > crl.nextUpdate) return 1;
    return 0;
}

bool CrlListsSerial(const DecodedCrl& crl, const std::vector<uint8_t>& serial) {
    return std::find(crl.revokedSerials.begin(), crl.revokedSerials.end(), serial) != crl.revokedSerials.end();
}

}  // namespace corvane
