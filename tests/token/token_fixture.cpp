#include "token/token_fixture.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/registry.h"
#include "platform/text.h"
#include "token/p11_names.h"
#include "token/token_payload.h"
#include "wire/byte_order.h"

namespace corvane::test {

TokenWorld::TokenWorld() : tokens(platform.Get()) {
    // Loops that poll every 10 ms sleep on the fake clock; a little real time each keeps them
    // from spinning while SoftHSM2 works.
    platform.clock.onSleep = [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    const std::string tokenDir = platform.Root() + "/softhsm-tokens";
    Run("mkdir -p '" + tokenDir + "'");
    conf = platform.Root() + "/softhsm2.conf";
    std::ofstream(conf) << "directories.tokendir = " << tokenDir << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    ::setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    // Kept loaded for the life of the process, as a service keeps its library.
    m_module = ::dlopen(TestTokenModulePath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (m_module) {
        if (auto reset = reinterpret_cast<void (*)()>(::dlsym(m_module, "CorvaneTestToken_Reset"))) reset();
    }
}

TokenWorld::~TokenWorld() {
    Stop();
    if (m_module) ::dlclose(m_module);
}

void TokenWorld::Stop() {
    if (m_stopped) return;
    m_stopped = true;
    tokens.Binding().FinP11();
    platform.threads.JoinAll();
}

std::string TokenWorld::TestTokenModulePath() { return CORVANE_TESTTOKEN_PATH; }

void TokenWorld::SetLibrary(const std::string& path) {
    platform.registry.CreateKey(kP11LibraryKey);
    RegSetString(platform.registry, kP11LibraryKey, kLibPkcs11Value, Utf8ToUtf16(path));
}

void TokenWorld::MakeToken(const std::string& label) {
    Run("softhsm2-util --init-token --free --label '" + label + "' --so-pin " + kSoPin + " --pin " + kUserPin +
        " >/dev/null");
}

void TokenWorld::SetPresent(uint32_t slotId, bool present) {
    auto set = reinterpret_cast<void (*)(unsigned long, int)>(::dlsym(m_module, "CorvaneTestToken_SetPresent"));
    ASSERT_NE(set, nullptr);
    set(slotId, present ? 1 : 0);
}

void TokenWorld::SetDescription(uint32_t slotId, const std::string& description) {
    auto set =
        reinterpret_cast<void (*)(unsigned long, const char*)>(::dlsym(m_module, "CorvaneTestToken_SetDescription"));
    ASSERT_NE(set, nullptr);
    set(slotId, description.c_str());
}

void TokenWorld::WaitForFirstListing(const P11Slot& slot) {
    WaitFor([&] { return slot.m_bThreadEnded.load() == 1; });
}

bool TokenWorld::WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::string TokenWorld::Run(const std::string& command) {
    const std::string full = "SOFTHSM2_CONF='" + conf + "' " + command;
    std::string out;
    FILE* pipe = ::popen(full.c_str(), "r");
    if (pipe == nullptr) return out;
    std::array<char, 512> buffer {};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
    ::pclose(pipe);
    return out;
}

std::vector<uint8_t> U32(uint32_t value) {
    std::vector<uint8_t> out(4);
    WriteU32(out.data(), value);
    return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<uint8_t> Text(const std::string& text) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> TokenOperation(uint32_t slotId, uint16_t subOpcode, const std::vector<uint8_t>& data) {
    return BuildTokenOperation(slotId, subOpcode, data.data(), data.size());
}

}  // namespace corvane::test
