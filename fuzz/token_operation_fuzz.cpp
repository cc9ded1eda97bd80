// HandleTokenOperation (and the slot requests) against an in-memory PKCS#11 library. The first
// bytes choose how the library misbehaves (a fault in one call, absurd lengths, whether the user
// is logged in); the rest is the request payload.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "local_mutexes.h"
#include "platform/registry.h"
#include "support/fake_pkcs11.h"
#include "token/token_access.h"

namespace {

using namespace corvane;

class StepClock final : public IClock {
public:
    uint32_t GetTickCount() override { return m_tick; }
    FileTime GetSystemTimeAsFileTime() override { return FileTime {}; }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t milliseconds) override { m_tick += milliseconds; }

private:
    uint32_t m_tick = 1000;
};

// Threads run to their end inside CreateThread, so that every input is deterministic.
class InlineThreads final : public IThreads {
public:
    bool CreateThread(std::function<void()> body) override {
        body();
        return true;
    }
    uint32_t GetCurrentThreadId() override { return 1; }
    bool PostQuit(uint32_t) override { return true; }
    void RunMessageLoop() override {}
};

using fuzz::LocalMutexes;

// A registry holding only the library path.
class LibraryRegistry final : public IRegistry {
public:
    uint32_t CreateKey(std::u16string_view) override { return 0; }
    uint32_t OpenKey(std::u16string_view) override { return 0; }
    uint32_t QueryValue(std::u16string_view, std::u16string_view, RegValue& out, size_t) override {
        out.type = RegType::Sz;
        out.data = {'f', 0, 'a', 0, 'k', 0, 'e', 0, 0, 0};
        return 0;
    }
    uint32_t SetValue(std::u16string_view, std::u16string_view, uint32_t, const uint8_t*, size_t) override { return 0; }
    uint32_t DeleteValue(std::u16string_view, std::u16string_view) override { return 0; }
    uint32_t DeleteKey(std::u16string_view) override { return 0; }
    uint32_t EnumSubkeys(std::u16string_view, std::vector<std::u16string>&) override { return 0; }
    uint32_t EnumValues(std::u16string_view, std::vector<std::u16string>&) override { return 0; }
};

constexpr const char* kFaultFunctions[] = {
    "C_GetSlotList",   "C_GetSlotInfo",     "C_GetTokenInfo",  "C_OpenSession",  "C_GetSessionInfo",
    "C_FindObjectsInit", "C_FindObjects",   "C_GetAttributeValue", "C_CreateObject", "C_DestroyObject",
    "C_GenerateKeyPair", "C_DecryptInit",   "C_Decrypt",       "C_Encrypt",      "C_Login",
    "C_WaitForSlotEvent", "C_InitToken",    "C_SetPIN",
};
constexpr CK_RV kFaultResults[] = {CKR_DEVICE_ERROR, CKR_BUFFER_TOO_SMALL, CKR_TOKEN_NOT_PRESENT,
                                   CKR_SESSION_HANDLE_INVALID, CKR_PIN_INCORRECT, CKR_OBJECT_HANDLE_INVALID,
                                   CKR_HOST_MEMORY, CKR_USER_NOT_LOGGED_IN};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    corvane::test::FakePkcs11 fake;
    const uint8_t faultChoice = data[0];
    const uint8_t flags = data[1];
    const uint8_t request = data[2];
    data += 3;
    size -= 3;

    fake.AddContainer("Alpha");
    fake.AddKeyPair("Alpha_cspX", 1024);
    fake.AddContainer("Beta");
    fake.slots[0].loggedIn = flags & 1;
    fake.absurdLengths = (flags & 2) != 0;
    if (flags & 4) fake.slots.push_back({2, "Second reader", (flags & 8) != 0});
    if (faultChoice & 0x80) {
        fake.Fail(kFaultFunctions[(faultChoice & 0x7F) % std::size(kFaultFunctions)],
                  kFaultResults[(flags >> 4) % std::size(kFaultResults)], 1 + ((flags >> 7) & 1));
    }

    StepClock clock;
    InlineThreads threads;
    LocalMutexes mutexes;
    LibraryRegistry registry;
    Platform platform;
    platform.clock = &clock;
    platform.threads = &threads;
    platform.mutexes = &mutexes;
    platform.registry = &registry;
    platform.libraries = &fake.Loader();
    {
        CTokenAccess tokens(platform);
        tokens.Binding().InitP11();
        std::vector<uint8_t> payload(data, data + size);
        ReplyArena arena;
        TokenReply reply;
        uint32_t status = 0;
        switch (request % 4) {
            case 0: status = tokens.Requests().HandleSlotList(payload.data(), payload.size(), arena, reply); break;
            case 1: status = tokens.Requests().HandleSlotState(payload.data(), payload.size(), arena, reply); break;
            default: status = tokens.Requests().HandleTokenOperation(payload.data(), payload.size(), arena, reply);
        }
        // A reply is whole or absent: its bytes lie in the arena and are all readable.
        if (status == 0 && reply.wLength) {
            volatile uint8_t sum = 0;
            for (size_t i = 0; i < reply.wLength; ++i) sum = sum + reply.pPayload[i];
        }
        if (status != 0 && reply.wLength != 0) __builtin_trap();
        tokens.Binding().FinP11();
    }
    return 0;
}
