// The test token module. It loads SoftHSM2 (CORVANE_TESTTOKEN_SOFTHSM, by default
// /usr/lib/softhsm/libsofthsm2.so) and hands out SoftHSM2's function list with these changes:
//  - key containers (CKA_CLASS 0x80000001, which SoftHSM2 refuses) are stored as data objects
//    marked with an application name, and are found and reported with the vendor class again;
//  - a slot can be emptied and filled again (CorvaneTestToken_SetPresent): its token then reads
//    as absent, its sessions fail with CKR_DEVICE_REMOVED and are closed, so the login ends;
//  - a slot's description can be replaced (CorvaneTestToken_SetDescription);
//  - an RSA private key given by e, p and q alone gets the other numbers derived, and a
//    certificate without a subject gets an empty one, as the CSP's tokens do for themselves;
//  - every removal and insertion is a slot event; C_WaitForSlotEvent blocks until one arrives and
//    returns CKR_CRYPTOKI_NOT_INITIALIZED once C_Finalize has been called.
// Control: the exported functions below, or (for another process) lines in the file named by
// CORVANE_TESTTOKEN_CONTROL, read on every C_GetSlotList and C_WaitForSlotEvent wake-up:
// "remove SLOT", "insert SLOT", "describe SLOT TEXT" (SLOT as 0x... or decimal).
#include <dlfcn.h>
#include <openssl/bn.h>
#include <p11-kit/pkcs11.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr CK_OBJECT_CLASS kContainerClass = 0x80000001UL;
constexpr char kContainerMark[] = "corvane-testtoken container";

struct SessionState {
    CK_SLOT_ID slot = 0;
    bool dead = false;      // its token was removed
    bool closed = false;    // closed in SoftHSM2 already
    int inFlight = 0;
};

struct SlotState {
    bool removed = false;
    bool hasDescription = false;
    std::string description;
};

struct Module {
    std::mutex mutex;
    std::condition_variable events;
    CK_FUNCTION_LIST* soft = nullptr;
    CK_FUNCTION_LIST list {};
    bool initialised = false;
    std::deque<CK_SLOT_ID> pending;
    std::map<CK_SLOT_ID, SlotState> slots;
    std::map<CK_SESSION_HANDLE, SessionState> sessions;
    size_t controlLinesRead = 0;
};

Module& M() {
    static Module* module = new Module();  // never destroyed: threads of the host may outlive exit
    return *module;
}

bool SlotRemoved(CK_SLOT_ID slot) {
    auto it = M().slots.find(slot);
    return it != M().slots.end() && it->second.removed;
}

// Called with the module mutex held.
void CloseDeadSession(CK_SESSION_HANDLE handle, SessionState& state) {
    if (state.dead && !state.closed && state.inFlight == 0) {
        M().soft->C_CloseSession(handle);
        state.closed = true;
    }
}

void SetPresentLocked(CK_SLOT_ID slot, bool present) {
    Module& m = M();
    SlotState& state = m.slots[slot];
    if (state.removed == !present) return;
    state.removed = !present;
    if (!present) {
        for (auto& [handle, session] : m.sessions) {
            if (session.slot == slot) {
                session.dead = true;
                CloseDeadSession(handle, session);
            }
        }
    }
    m.pending.push_back(slot);
    m.events.notify_all();
}

CK_SLOT_ID ParseSlot(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 0); }

// Applies the control file's lines not yet applied. Module mutex held.
void ReadControlFileLocked() {
    const char* path = std::getenv("CORVANE_TESTTOKEN_CONTROL");
    if (path == nullptr) return;
    std::ifstream in(path);
    std::string line;
    size_t index = 0;
    while (std::getline(in, line)) {
        if (index++ < M().controlLinesRead) continue;
        std::istringstream words(line);
        std::string verb, slot;
        words >> verb >> slot;
        if (verb == "remove") SetPresentLocked(ParseSlot(slot), false);
        if (verb == "insert") SetPresentLocked(ParseSlot(slot), true);
        if (verb == "describe") {
            std::string rest;
            std::getline(words, rest);
            if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
            SlotState& state = M().slots[ParseSlot(slot)];
            state.hasDescription = true;
            state.description = rest;
        }
    }
    M().controlLinesRead = index;
}

// Runs a call on a session unless its token has been removed.
template <class Call>
CK_RV OnSession(CK_SESSION_HANDLE handle, Call call) {
    Module& m = M();
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        auto it = m.sessions.find(handle);
        if (it != m.sessions.end()) {
            if (it->second.dead) return CKR_DEVICE_REMOVED;
            ++it->second.inFlight;
        }
    }
    const CK_RV rv = call();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.sessions.find(handle);
    if (it != m.sessions.end()) {
        --it->second.inFlight;
        CloseDeadSession(handle, it->second);
    }
    return rv;
}

// A copy of a template with the container class replaced by the data class and the mark.
std::vector<CK_ATTRIBUTE> RewriteTemplate(CK_ATTRIBUTE* attributes, CK_ULONG count, CK_OBJECT_CLASS& dataClass,
                                          bool& isContainer) {
    std::vector<CK_ATTRIBUTE> out(attributes, attributes + count);
    isContainer = false;
    for (CK_ATTRIBUTE& a : out) {
        if (a.type == CKA_CLASS && a.pValue != nullptr && a.ulValueLen == sizeof(CK_OBJECT_CLASS) &&
            *static_cast<CK_OBJECT_CLASS*>(a.pValue) == kContainerClass) {
            a.pValue = &dataClass;
            isContainer = true;
        }
    }
    if (isContainer) {
        out.push_back({CKA_APPLICATION, const_cast<char*>(kContainerMark), sizeof(kContainerMark) - 1});
        // Containers are public objects, listed before anyone has logged in.
        static CK_BBOOL no = CK_FALSE;
        bool hasPrivate = false;
        for (const CK_ATTRIBUTE& a : out) hasPrivate = hasPrivate || a.type == CKA_PRIVATE;
        if (!hasPrivate) out.push_back({CKA_PRIVATE, &no, sizeof(no)});
    }
    return out;
}


// Big-endian bytes of a number.
std::vector<uint8_t> Bytes(const BIGNUM* n) {
    std::vector<uint8_t> out(BN_num_bytes(n));
    BN_bn2bin(n, out.data());
    return out;
}

const CK_ATTRIBUTE* FindAttribute(const std::vector<CK_ATTRIBUTE>& t, CK_ATTRIBUTE_TYPE type) {
    for (const CK_ATTRIBUTE& a : t) {
        if (a.type == type) return &a;
    }
    return nullptr;
}

bool HasClass(const std::vector<CK_ATTRIBUTE>& t, CK_OBJECT_CLASS cls) {
    const CK_ATTRIBUTE* a = FindAttribute(t, CKA_CLASS);
    return a && a->pValue && a->ulValueLen == sizeof(CK_OBJECT_CLASS) && *static_cast<CK_OBJECT_CLASS*>(a->pValue) == cls;
}

// Completes a template in place: derived RSA numbers for a private key given by e, p and q, an
// empty subject for a certificate. `store` keeps the added values alive.
void CompleteTemplate(std::vector<CK_ATTRIBUTE>& t, std::vector<std::vector<uint8_t>>& store) {
    if (HasClass(t, CKO_CERTIFICATE) && !FindAttribute(t, CKA_SUBJECT)) {
        store.emplace_back(2);
        store.back() = {0x30, 0x00};  // an empty Name
        t.push_back({CKA_SUBJECT, store.back().data(), 2});
    }
    if (!HasClass(t, CKO_PRIVATE_KEY) || FindAttribute(t, CKA_MODULUS)) return;
    const CK_ATTRIBUTE* e = FindAttribute(t, CKA_PUBLIC_EXPONENT);
    const CK_ATTRIBUTE* p = FindAttribute(t, CKA_PRIME_1);
    const CK_ATTRIBUTE* q = FindAttribute(t, CKA_PRIME_2);
    if (!e || !p || !q) return;
    BN_CTX* ctx = BN_CTX_new();
    auto num = [](const CK_ATTRIBUTE* a) {
        return BN_bin2bn(static_cast<const unsigned char*>(a->pValue), static_cast<int>(a->ulValueLen), nullptr);
    };
    BIGNUM *be = num(e), *bp = num(p), *bq = num(q);
    BIGNUM *n = BN_new(), *p1 = BN_new(), *q1 = BN_new(), *phi = BN_new(), *d = BN_new();
    BIGNUM *dp = BN_new(), *dq = BN_new(), *qinv = BN_new();
    BN_mul(n, bp, bq, ctx);
    BN_sub(p1, bp, BN_value_one());
    BN_sub(q1, bq, BN_value_one());
    BN_mul(phi, p1, q1, ctx);
    if (BN_mod_inverse(d, be, phi, ctx) && BN_mod_inverse(qinv, bq, bp, ctx)) {
        BN_mod(dp, d, p1, ctx);
        BN_mod(dq, d, q1, ctx);
        const CK_ATTRIBUTE_TYPE types[] = {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_EXPONENT_1, CKA_EXPONENT_2,
                                           CKA_COEFFICIENT};
        const BIGNUM* values[] = {n, d, dp, dq, qinv};
        store.reserve(store.size() + 5);
        for (size_t i = 0; i < 5; ++i) {
            store.push_back(Bytes(values[i]));
            t.push_back({types[i], store.back().data(), store.back().size()});
        }
    }
    for (BIGNUM* b : {be, bp, bq, n, p1, q1, phi, d, dp, dq, qinv}) BN_clear_free(b);
    BN_CTX_free(ctx);
}

bool IsContainerObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    char application[sizeof(kContainerMark)] = {};
    CK_ATTRIBUTE a = {CKA_APPLICATION, application, sizeof(application)};
    return M().soft->C_GetAttributeValue(session, object, &a, 1) == CKR_OK &&
           a.ulValueLen == sizeof(kContainerMark) - 1 && std::memcmp(application, kContainerMark, a.ulValueLen) == 0;
}

CK_RV TT_Initialize(void* args) {
    Module& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    const CK_RV rv = m.soft->C_Initialize(args);
    if (rv == CKR_OK) {
        m.initialised = true;
        m.pending.clear();
        m.sessions.clear();
    }
    return rv;
}

CK_RV TT_Finalize(void* reserved) {
    Module& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    const CK_RV rv = m.soft->C_Finalize(reserved);
    m.initialised = false;
    m.sessions.clear();
    m.events.notify_all();
    return rv;
}

CK_RV TT_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

CK_RV TT_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* list, CK_ULONG* count) {
    Module& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    ReadControlFileLocked();
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG all = 0;
    CK_RV rv = m.soft->C_GetSlotList(CK_FALSE, nullptr, &all);
    if (rv != CKR_OK) return rv;
    std::vector<CK_SLOT_ID> ids(all);
    rv = m.soft->C_GetSlotList(CK_FALSE, ids.data(), &all);
    if (rv != CKR_OK) return rv;
    ids.resize(all);
    std::vector<CK_SLOT_ID> shown;
    for (CK_SLOT_ID id : ids) {
        if (tokenPresent && SlotRemoved(id)) continue;
        shown.push_back(id);
    }
    if (list == nullptr) {
        *count = shown.size();
        return CKR_OK;
    }
    if (*count < shown.size()) {
        *count = shown.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(shown.begin(), shown.end(), list);
    *count = shown.size();
    return CKR_OK;
}

CK_RV TT_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    Module& m = M();
    const CK_RV rv = m.soft->C_GetSlotInfo(slot, info);
    if (rv != CKR_OK) return rv;
    std::lock_guard<std::mutex> lock(m.mutex);
    info->flags |= CKF_REMOVABLE_DEVICE;
    auto it = m.slots.find(slot);
    if (it == m.slots.end()) return rv;
    if (it->second.removed) info->flags &= ~static_cast<CK_FLAGS>(CKF_TOKEN_PRESENT);
    if (it->second.hasDescription) {
        std::memset(info->slotDescription, ' ', sizeof(info->slotDescription));
        std::memcpy(info->slotDescription, it->second.description.data(),
                    std::min(it->second.description.size(), sizeof(info->slotDescription)));
    }
    return rv;
}

CK_RV TT_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    {
        std::lock_guard<std::mutex> lock(M().mutex);
        if (SlotRemoved(slot)) return CKR_TOKEN_NOT_PRESENT;
    }
    return M().soft->C_GetTokenInfo(slot, info);
}

CK_RV TT_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR* pin, CK_ULONG pinLength, CK_UTF8CHAR* label) {
    {
        std::lock_guard<std::mutex> lock(M().mutex);
        if (SlotRemoved(slot)) return CKR_TOKEN_NOT_PRESENT;
    }
    return M().soft->C_InitToken(slot, pin, pinLength, label);
}

CK_RV TT_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void* application, CK_NOTIFY notify,
                     CK_SESSION_HANDLE* session) {
    Module& m = M();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (SlotRemoved(slot)) return CKR_TOKEN_NOT_PRESENT;
    const CK_RV rv = m.soft->C_OpenSession(slot, flags, application, notify, session);
    if (rv == CKR_OK) m.sessions[*session] = SessionState {slot};
    return rv;
}

CK_RV TT_CloseSession(CK_SESSION_HANDLE session) {
    Module& m = M();
    std::unique_lock<std::mutex> lock(m.mutex);
    auto it = m.sessions.find(session);
    if (it != m.sessions.end() && it->second.closed) {
        m.sessions.erase(it);
        return CKR_OK;
    }
    if (it != m.sessions.end()) m.sessions.erase(it);
    lock.unlock();
    return m.soft->C_CloseSession(session);
}

CK_RV TT_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, void* reserved) {
    (void)reserved;
    Module& m = M();
    std::unique_lock<std::mutex> lock(m.mutex);
    for (;;) {
        if (!m.initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
        ReadControlFileLocked();
        if (!m.pending.empty()) {
            if (slot) *slot = m.pending.front();
            m.pending.pop_front();
            return CKR_OK;
        }
        if (flags & CKF_DONT_BLOCK) return CKR_NO_EVENT;
        // Woken by an event or C_Finalize; the control file is looked at twice a second.
        m.events.wait_for(lock, std::chrono::milliseconds(500));
    }
}

CK_RV TT_CreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE* attributes, CK_ULONG count,
                      CK_OBJECT_HANDLE* object) {
    return OnSession(session, [&] {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        bool isContainer = false;
        std::vector<CK_ATTRIBUTE> copy = RewriteTemplate(attributes, count, dataClass, isContainer);
        std::vector<std::vector<uint8_t>> store;
        store.reserve(8);
        CompleteTemplate(copy, store);
        const CK_RV rv = M().soft->C_CreateObject(session, copy.data(), copy.size(), object);
        for (auto& value : store) std::fill(value.begin(), value.end(), 0);
        return rv;
    });
}

CK_RV TT_FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* attributes, CK_ULONG count) {
    return OnSession(session, [&] {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        bool isContainer = false;
        std::vector<CK_ATTRIBUTE> copy = RewriteTemplate(attributes, count, dataClass, isContainer);
        return M().soft->C_FindObjectsInit(session, copy.data(), copy.size());
    });
}

CK_RV TT_GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes,
                           CK_ULONG count) {
    return OnSession(session, [&] {
        const CK_RV rv = M().soft->C_GetAttributeValue(session, object, attributes, count);
        if (rv != CKR_OK) return rv;
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_ATTRIBUTE& a = attributes[i];
            if (a.type == CKA_CLASS && a.pValue != nullptr && a.ulValueLen == sizeof(CK_OBJECT_CLASS) &&
                *static_cast<CK_OBJECT_CLASS*>(a.pValue) == CKO_DATA && IsContainerObject(session, object)) {
                *static_cast<CK_OBJECT_CLASS*>(a.pValue) = kContainerClass;
            }
        }
        return rv;
    });
}

// Session functions that need no change besides the removal check.
#define CORVANE_TT_FORWARD(name, params, args)                                  \
    CK_RV TT_##name params {                                                    \
        return OnSession(session, [&] { return M().soft->C_##name args; });     \
    }

CORVANE_TT_FORWARD(GetSessionInfo, (CK_SESSION_HANDLE session, CK_SESSION_INFO* info), (session, info))
CORVANE_TT_FORWARD(FindObjects,
                   (CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* objects, CK_ULONG max, CK_ULONG* count),
                   (session, objects, max, count))
CORVANE_TT_FORWARD(FindObjectsFinal, (CK_SESSION_HANDLE session), (session))
CORVANE_TT_FORWARD(DestroyObject, (CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object), (session, object))
CORVANE_TT_FORWARD(SetAttributeValue,
                   (CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes, CK_ULONG count),
                   (session, object, attributes, count))
CORVANE_TT_FORWARD(GenerateKeyPair,
                   (CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_ATTRIBUTE* publicTemplate,
                    CK_ULONG publicCount, CK_ATTRIBUTE* privateTemplate, CK_ULONG privateCount,
                    CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey),
                   (session, mechanism, publicTemplate, publicCount, privateTemplate, privateCount, publicKey,
                    privateKey))
CORVANE_TT_FORWARD(EncryptInit, (CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key),
                   (session, mechanism, key))
CORVANE_TT_FORWARD(Encrypt,
                   (CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_BYTE* out, CK_ULONG* outLength),
                   (session, data, length, out, outLength))
CORVANE_TT_FORWARD(DecryptInit, (CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key),
                   (session, mechanism, key))
CORVANE_TT_FORWARD(Decrypt,
                   (CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_BYTE* out, CK_ULONG* outLength),
                   (session, data, length, out, outLength))
CORVANE_TT_FORWARD(SignInit, (CK_SESSION_HANDLE session, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE key),
                   (session, mechanism, key))
CORVANE_TT_FORWARD(Sign,
                   (CK_SESSION_HANDLE session, CK_BYTE* data, CK_ULONG length, CK_BYTE* out, CK_ULONG* outLength),
                   (session, data, length, out, outLength))
CORVANE_TT_FORWARD(Login, (CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length),
                   (session, user, pin, length))
CORVANE_TT_FORWARD(Logout, (CK_SESSION_HANDLE session), (session))
CORVANE_TT_FORWARD(InitPIN, (CK_SESSION_HANDLE session, CK_UTF8CHAR* pin, CK_ULONG length), (session, pin, length))
CORVANE_TT_FORWARD(SetPIN,
                   (CK_SESSION_HANDLE session, CK_UTF8CHAR* oldPin, CK_ULONG oldLength, CK_UTF8CHAR* newPin,
                    CK_ULONG newLength),
                   (session, oldPin, oldLength, newPin, newLength))
#undef CORVANE_TT_FORWARD

bool LoadSoftHsm() {
    Module& m = M();
    if (m.soft != nullptr) return true;
    const char* path = std::getenv("CORVANE_TESTTOKEN_SOFTHSM");
    void* library = ::dlopen(path ? path : "/usr/lib/softhsm/libsofthsm2.so", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;  // kept loaded for the life of the process
    auto get = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library, "C_GetFunctionList"));
    if (get == nullptr || get(&m.soft) != CKR_OK || m.soft == nullptr) return false;
    m.list = *m.soft;
    m.list.C_Initialize = TT_Initialize;
    m.list.C_Finalize = TT_Finalize;
    m.list.C_GetFunctionList = TT_GetFunctionList;
    m.list.C_GetSlotList = TT_GetSlotList;
    m.list.C_GetSlotInfo = TT_GetSlotInfo;
    m.list.C_GetTokenInfo = TT_GetTokenInfo;
    m.list.C_InitToken = TT_InitToken;
    m.list.C_OpenSession = TT_OpenSession;
    m.list.C_CloseSession = TT_CloseSession;
    m.list.C_WaitForSlotEvent = TT_WaitForSlotEvent;
    m.list.C_CreateObject = TT_CreateObject;
    m.list.C_FindObjectsInit = TT_FindObjectsInit;
    m.list.C_GetAttributeValue = TT_GetAttributeValue;
    m.list.C_GetSessionInfo = TT_GetSessionInfo;
    m.list.C_FindObjects = TT_FindObjects;
    m.list.C_FindObjectsFinal = TT_FindObjectsFinal;
    m.list.C_DestroyObject = TT_DestroyObject;
    m.list.C_SetAttributeValue = TT_SetAttributeValue;
    m.list.C_GenerateKeyPair = TT_GenerateKeyPair;
    m.list.C_EncryptInit = TT_EncryptInit;
    m.list.C_Encrypt = TT_Encrypt;
    m.list.C_DecryptInit = TT_DecryptInit;
    m.list.C_Decrypt = TT_Decrypt;
    m.list.C_SignInit = TT_SignInit;
    m.list.C_Sign = TT_Sign;
    m.list.C_Login = TT_Login;
    m.list.C_Logout = TT_Logout;
    m.list.C_InitPIN = TT_InitPIN;
    m.list.C_SetPIN = TT_SetPIN;
    return true;
}

CK_RV TT_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    std::lock_guard<std::mutex> lock(M().mutex);
    if (!LoadSoftHsm()) return CKR_GENERAL_ERROR;
    *list = &M().list;
    return CKR_OK;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    return TT_GetFunctionList(list);
}

// Empties (present 0) or fills (present 1) a slot and reports the slot event.
__attribute__((visibility("default"))) void CorvaneTestToken_SetPresent(CK_SLOT_ID slot, int present) {
    std::lock_guard<std::mutex> lock(M().mutex);
    SetPresentLocked(slot, present != 0);
}

// Replaces the slot's description (blank-padded to 64 bytes by the module).
__attribute__((visibility("default"))) void CorvaneTestToken_SetDescription(CK_SLOT_ID slot, const char* text) {
    std::lock_guard<std::mutex> lock(M().mutex);
    SlotState& state = M().slots[slot];
    state.hasDescription = text != nullptr;
    state.description = text ? text : "";
}

}  // extern "C"

extern "C" {

// Forgets every removal, description and unread event (a test's fresh start).
__attribute__((visibility("default"))) void CorvaneTestToken_Reset() {
    std::lock_guard<std::mutex> lock(M().mutex);
    M().slots.clear();
    M().pending.clear();
    M().controlLinesRead = 0;
}

}  // extern "C"
