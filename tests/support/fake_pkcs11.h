// A PKCS#11 library in memory, for tests of error paths and for the token fuzz target: slots
// with or without a token, objects with attributes, searches, key generation whose keys simply
// hand blocks back, PINs (a private key works only after a login, which ends with the token's
// removal), slot events, and faults to inject (a result for one function, absurd lengths). Its function list is reached through a library loader of its own, as the binding
// would reach a real library. One instance at a time (the C entry points have no context).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/library_loader.h"
#include "token/pkcs11.h"

namespace corvane::test {

class FakePkcs11 {
public:
    struct Slot {
        CK_SLOT_ID id = 0;
        std::string description;
        bool present = true;
        std::string serial = "0123456789ABCDEF";
        std::string userPin = "1234";
        std::string soPin = "0000";
        bool loggedIn = false;
    };
    using Attributes = std::map<CK_ATTRIBUTE_TYPE, std::vector<uint8_t>>;

    FakePkcs11();
    ~FakePkcs11();
    FakePkcs11(const FakePkcs11&) = delete;
    FakePkcs11& operator=(const FakePkcs11&) = delete;

    // The loader to put in the platform: any path loads this library.
    ILibraryLoader& Loader() { return *m_pLoader; }

    // Makes function `name` (e.g. "C_GetAttributeValue") answer `rv` from its next call on, for
    // `times` calls (0: for ever).
    void Fail(const std::string& name, CK_RV rv, int times = 0);
    // Attribute lengths and the slot count are reported as absurdly large.
    bool absurdLengths = false;
    // Slot events handed out by C_WaitForSlotEvent; without one it answers
    // CKR_CRYPTOKI_NOT_INITIALIZED at once, so a waiting thread ends.
    std::vector<CK_SLOT_ID> events;

    // Pulls the token out of a slot or puts it back, as a card leaves and enters its reader: on
    // removal every session of the slot ends and its login with them, as on a real token.
    void SetPresent(CK_SLOT_ID id, bool present);
    // Called at the start of each C_CreateObject, outside the library's lock.
    std::function<void()> onCreateObject;
    // While held, C_WaitForSlotEvent blocks (whatever C_Finalize does) until released, and then
    // reports an event for the first slot: a library whose wait does not end on finalisation.
    void HoldSlotEventWaits(bool hold);
    // Waits (real time, at most 5 s) until a held C_WaitForSlotEvent is blocked.
    bool WaitForHeldWait();

    std::vector<Slot> slots;
    std::map<CK_OBJECT_HANDLE, Attributes> objects;
    CK_OBJECT_HANDLE AddObject(const Attributes& attributes);
    static std::vector<uint8_t> Ulong(CK_ULONG value);
    static std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
    // A container object, and a key pair of `bits` bits under the container's key id.
    CK_OBJECT_HANDLE AddContainer(const std::string& name);
    void AddKeyPair(const std::string& keyId, uint32_t bits);

    CK_FUNCTION_LIST list {};

    // Internals used by the C entry points.
    std::recursive_mutex mutex;
    bool initialised = false;
    struct Session {
        CK_SLOT_ID slot = 0;
        std::vector<CK_OBJECT_HANDLE> found;
        size_t next = 0;
        bool searching = false;
        bool cryptInit = false;
    };
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    CK_OBJECT_HANDLE nextObject = 100;
    bool TakeFault(const char* name, CK_RV& rv);
    Slot* FindSlot(CK_SLOT_ID id);

private:
    struct Fault {
        CK_RV rv;
        int times;
    };
    std::map<std::string, Fault> m_faults;

public:
    // The held slot-event waits (their own lock: they block outside the library's).
    std::mutex waitMutex;
    std::condition_variable waitChanged;
    bool holdWaits = false;
    int heldWaits = 0;

private:
    std::unique_ptr<ILibraryLoader> m_pLoader;
};

}  // namespace corvane::test
