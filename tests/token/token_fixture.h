// A token world for one test: SoftHSM2 with a fresh token directory, the test token module in
// front of it named in the registry as the PKCS#11 library, and the token subsystem built on the
// test platform. Tokens are made with softhsm2-util; the module's controls remove and insert them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_platform.h"
#include "token/token_access.h"

namespace corvane::test {

constexpr const char* kSoftHsmLibrary = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* kSoPin = "1234";
constexpr const char* kUserPin = "5678";

class TokenWorld {
public:
    TokenWorld();
    ~TokenWorld();

    // Initialises the first free SoftHSM2 slot as a token with the given label and the PINs above.
    void MakeToken(const std::string& label);
    // Points the registry's LibPkcs11 at a library (the test token module by default).
    void SetLibrary(const std::string& path);
    void UseTestTokenModule() { SetLibrary(TestTokenModulePath()); }
    static std::string TestTokenModulePath();

    // The module's controls.
    void SetPresent(uint32_t slotId, bool present);
    void SetDescription(uint32_t slotId, const std::string& description);

    // Waits (in real time, at most 10 s) until the condition holds.
    static bool WaitFor(const std::function<bool()>& condition);
    // Waits until the container listing that a token's insertion starts has ended. SoftHSM2 can
    // refuse an object made by one session (CKR_GENERAL_ERROR) while another thread of the same
    // process reads the token's store, so tests that write objects start once the token is quiet.
    static void WaitForFirstListing(const P11Slot& slot);
    // Runs a shell command with SOFTHSM2_CONF set; its standard output.
    std::string Run(const std::string& command);

    // Ends the binding and joins every thread the subsystem started.
    void Stop();

    TestPlatform platform;
    CTokenAccess tokens;
    std::string conf;

private:
    void* m_module = nullptr;
    bool m_stopped = false;
};

// Builds the payload of a token operation.
std::vector<uint8_t> TokenOperation(uint32_t slotId, uint16_t subOpcode, const std::vector<uint8_t>& data);
std::vector<uint8_t> U32(uint32_t value);
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> Text(const std::string& text);  // with its NUL

}  // namespace corvane::test
