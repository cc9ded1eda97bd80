// What the remote session tests share: a request builder, threads that hold their bodies until a
// test runs them, and the companion CSP seen through a Bluetooth phone's "\\B\" path but served
// from the stand-in's store of network phones.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/csp_containers.h"
#include "platform/threads.h"
#include "wire/byte_order.h"

namespace corvane::test {

inline std::vector<uint8_t> Message(uint16_t code, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out(8 + payload.size(), 0);
    WriteU16(out.data(), code);
    WriteU16(out.data() + 2, static_cast<uint16_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), out.begin() + 8);
    return out;
}

// u32 values, then a text with its NUL (none when `text` is null).
inline std::vector<uint8_t> Fields(std::initializer_list<uint32_t> values, const char* text) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) {
        uint8_t b[4];
        WriteU32(b, v);
        out.insert(out.end(), b, b + 4);
    }
    if (text) {
        out.insert(out.end(), text, text + std::char_traits<char>::length(text));
        out.push_back(0);
    }
    return out;
}

// Threads that keep their bodies: a test runs them when and where it likes.
class HeldThreads final : public IThreads {
public:
    bool CreateThread(std::function<void()> body) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (failCreate) return false;
        bodies.push_back(std::move(body));
        return true;
    }
    uint32_t GetCurrentThreadId() override { return 1; }
    bool PostQuit(uint32_t) override { return true; }
    void RunMessageLoop() override {}
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return bodies.size();
    }
    std::vector<std::function<void()>> bodies;
    bool failCreate = false;

private:
    std::mutex m_mutex;
};

// Opens "\\B\{id}\{name}" as the store's "\\?\{id}\{name}"; records the paths asked for.
class BluetoothPathCsp final : public ICspContainers {
public:
    explicit BluetoothPathCsp(ICspContainers& inner) : m_inner(inner) {}
    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t providerType, uint32_t flags) override {
        paths.emplace_back(container);
        std::u16string path(container);
        if (path.rfind(u"\\\\B\\", 0) == 0) path.replace(0, 4, u"\\\\?\\");
        return m_inner.AcquireContext(prov, path, provider, providerType, flags);
    }
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) override {
        keySpecs.push_back(keySpec);
        return m_inner.GetUserKey(prov, keySpec, key);
    }
    uint32_t GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) override {
        return m_inner.GetKeyParam(key, param, value);
    }
    uint32_t SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) override {
        return m_inner.SetKeyParam(key, param, value);
    }
    uint32_t CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) override {
        return m_inner.CreateHash(prov, algorithm, hash);
    }
    uint32_t SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) override {
        return m_inner.SetHashParam(hash, param, value);
    }
    uint32_t SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags, std::vector<uint8_t>& signature) override {
        ++signatures;
        return m_inner.SignHash(hash, keySpec, flags, signature);
    }
    uint32_t DestroyHash(CryptHashHandle hash) override { return m_inner.DestroyHash(hash); }
    uint32_t DestroyKey(CryptKeyHandle key) override { return m_inner.DestroyKey(key); }
    uint32_t ReleaseContext(CryptProvHandle prov) override { return m_inner.ReleaseContext(prov); }

    std::vector<std::u16string> paths;
    std::vector<uint32_t> keySpecs;
    int signatures = 0;

private:
    ICspContainers& m_inner;
};

}  // namespace corvane::test
