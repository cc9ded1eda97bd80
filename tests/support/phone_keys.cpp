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

}  // namespace corvane::test
