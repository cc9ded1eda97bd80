#include "support/phone_keys.h"

#include <map>
#include <memory>
#include <mutex>
#include <random>

namespace corvane::test {

const TestKeyPair& PhoneTestKey(uint32_t bits) {
    static std::mutex mutex;
    static std::map<uint32_t, TestKeyPair> keys;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = keys.find(bits);
    if (it != keys.end()) return it->second;
    auto engine = std::make_shared<std::mt19937_64>(bits * 7919u);
    const RandomSource random = [engine](uint8_t* buffer, size_t size) {
        for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>((*engine)());
        return uint32_t {0};
    };
    TestKeyPair pair;
    if (RsaGenerate(&pair.handle, bits, 65537, random) == 0) {
        uint32_t size = 0;
        RsaExport(pair.handle, 1, nullptr, &size);
        pair.publicDer.resize(size);
        RsaExport(pair.handle, 1, pair.publicDer.data(), &size);
        pair.publicDer.resize(size);
        pair.bits = bits;
    }
    return keys.emplace(bits, std::move(pair)).first->second;
}

namespace {

void AppendDerLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    size_t bytes = 0;
    for (size_t v = length; v; v >>= 8) ++bytes;
    out.push_back(static_cast<uint8_t>(0x80 + bytes));
    for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

void AppendInteger(std::vector<uint8_t>& out, std::vector<uint8_t> value) {
    if (!value.empty() && value[0] & 0x80) value.insert(value.begin(), 0);
    out.push_back(0x02);
    AppendDerLength(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
}

}  // namespace

std::vector<uint8_t> RawPublicKeyDer(size_t modulusBytes, size_t exponentBytes) {
    std::vector<uint8_t> modulus(modulusBytes, 0xC5);
    if (!modulus.empty()) modulus.back() |= 1;
    std::vector<uint8_t> exponent(exponentBytes, 0xFF);
    if (!exponent.empty()) exponent.back() = 0x01;
    std::vector<uint8_t> items;
    AppendInteger(items, modulus);
    AppendInteger(items, exponent);
    std::vector<uint8_t> der {0x30};
    AppendDerLength(der, items.size());
    der.insert(der.end(), items.begin(), items.end());
    return der;
}

}  // namespace corvane::test
