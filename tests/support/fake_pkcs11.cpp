#include "support/fake_pkcs11.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corvane::test {

namespace {

FakePkcs11* g_pFake = nullptr;

constexpr CK_ULONG kAbsurdLength = 0x7FFFFFF0UL;

#define FAKE_ENTER(name)                                  \
    FakePkcs11& f = *g_pFake;                             \
    std::lock_guard<std::recursive_mutex> lock(f.mutex);  \
    {                                                     \
        CK_RV fault = CKR_OK;                             \
        if (f.TakeFault(name, fault)) return fault;       \
    }                                                     \
    if (!f.initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;

FakePkcs11::Session* FindSession(FakePkcs11& f, CK_SESSION_HANDLE handle) {
    auto it = f.sessions.find(handle);
    if (it == f.sessions.end()) return nullptr;
    FakePkcs11::Slot* slot = f.FindSlot(it->second.slot);
    return slot && slot->present ? &it->second : nullptr;
}

bool Matches(const FakePkcs11::Attributes& object, const CK_ATTRIBUTE* t, CK_ULONG count) {
    for (CK_ULONG i = 0; i < count; ++i) {
        auto it = object.find(t[i].type);
        if (it == object.end() || it->second.size() != t[i].ulValueLen) return false;
        if (t[i].ulValueLen && std::memcmp(it->second.data(), t[i].pValue, t[i].ulValueLen) != 0) return false;
    }
    return true;
}

FakePkcs11::Attributes FromTemplate(const CK_ATTRIBUTE* t, CK_ULONG count) {
    FakePkcs11::Attributes out;
    for (CK_ULONG i = 0; i < count; ++i) {
        const uint8_t* p = static_cast<const uint8_t*>(t[i].pValue);
        out[t[i].type] = p ? std::vector<uint8_t>(p, p + t[i].ulValueLen) : std::vector<uint8_t>();
    }
    return out;
}

CK_RV F_Initialize(void*) {
    FakePkcs11& f = *g_pFake;
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    CK_RV fault = CKR_OK;
    if (f.TakeFault("C_Initialize", fault)) return fault;
    if (f.initialised) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    f.initialised = true;
    return CKR_OK;
}

CK_RV F_Finalize(void*) {
    FAKE_ENTER("C_Finalize");
    f.initialised = false;
    f.sessions.clear();
    return CKR_OK;
}

CK_RV F_GetSlotList(CK_BBOOL present, CK_SLOT_ID* list, CK_ULONG* count) {
    FAKE_ENTER("C_GetSlotList");
    std::vector<CK_SLOT_ID> ids;
    for (const auto& slot : f.slots) {
        if (!present || slot.present) ids.push_back(slot.id);
    }
    if (list == nullptr) {
        *count = f.absurdLengths ? kAbsurdLength : ids.size();
        return CKR_OK;
    }
    if (*count < ids.size()) {
        *count = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(ids.begin(), ids.end(), list);
    *count = ids.size();
    return CKR_OK;
}

CK_RV F_GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO* info) {
    FAKE_ENTER("C_GetSlotInfo");
    FakePkcs11::Slot* slot = f.FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    std::memset(info, 0, sizeof(*info));
    std::memset(info->slotDescription, ' ', sizeof(info->slotDescription));
    std::memcpy(info->slotDescription, slot->description.data(),
                std::min(slot->description.size(), sizeof(info->slotDescription)));
    info->flags = CKF_REMOVABLE_DEVICE | (slot->present ? CKF_TOKEN_PRESENT : 0);
    return CKR_OK;
}

CK_RV F_GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO* info) {
    FAKE_ENTER("C_GetTokenInfo");
    FakePkcs11::Slot* slot = f.FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    std::memset(info->label, ' ', sizeof(info->label));
    std::memset(info->serialNumber, ' ', sizeof(info->serialNumber));
    std::memcpy(info->serialNumber, slot->serial.data(), std::min(slot->serial.size(), sizeof(info->serialNumber)));
    info->ulMaxPinLen = f.absurdLengths ? kAbsurdLength : 64;
    info->ulMinPinLen = 4;
    return CKR_OK;
}

CK_RV F_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID* slot, void*) {
    {
        FakePkcs11& held = *g_pFake;
        std::unique_lock<std::mutex> lock(held.waitMutex);
        if (held.holdWaits) {
            ++held.heldWaits;
            held.waitChanged.notify_all();
            held.waitChanged.wait(lock, [&] { return !held.holdWaits; });
            --held.heldWaits;
            std::lock_guard<std::recursive_mutex> library(held.mutex);
            *slot = held.slots.empty() ? 0 : held.slots.front().id;
            return CKR_OK;
        }
    }
    FAKE_ENTER("C_WaitForSlotEvent");
    if (f.events.empty()) return CKR_CRYPTOKI_NOT_INITIALIZED;  // ends a waiting thread at once
    *slot = f.events.front();
    f.events.erase(f.events.begin());
    return CKR_OK;
}

CK_RV F_OpenSession(CK_SLOT_ID id, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
    FAKE_ENTER("C_OpenSession");
    FakePkcs11::Slot* slot = f.FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    *session = f.nextSession++;
    f.sessions[*session].slot = id;
    return CKR_OK;
}

CK_RV F_CloseSession(CK_SESSION_HANDLE session) {
    FAKE_ENTER("C_CloseSession");
    return f.sessions.erase(session) ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

CK_RV F_GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
    FAKE_ENTER("C_GetSessionInfo");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    std::memset(info, 0, sizeof(*info));
    info->slotID = s->slot;
    info->state = f.FindSlot(s->slot)->loggedIn ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION;
    info->flags = CKF_RW_SESSION | CKF_SERIAL_SESSION;
    return CKR_OK;
}

CK_RV F_FindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE* t, CK_ULONG count) {
    FAKE_ENTER("C_FindObjectsInit");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (s->searching) return CKR_OPERATION_ACTIVE;
    s->found.clear();
    for (const auto& [handle, object] : f.objects) {
        if (Matches(object, t, count)) s->found.push_back(handle);
    }
    s->next = 0;
    s->searching = true;
    return CKR_OK;
}

CK_RV F_FindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* count) {
    FAKE_ENTER("C_FindObjects");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->searching) return CKR_OPERATION_NOT_INITIALIZED;
    *count = 0;
    while (*count < max && s->next < s->found.size()) out[(*count)++] = s->found[s->next++];
    return CKR_OK;
}

CK_RV F_FindObjectsFinal(CK_SESSION_HANDLE session) {
    FAKE_ENTER("C_FindObjectsFinal");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    s->searching = false;
    return CKR_OK;
}

CK_RV F_GetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* t, CK_ULONG count) {
    FAKE_ENTER("C_GetAttributeValue");
    if (FindSession(f, session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    auto it = f.objects.find(object);
    if (it == f.objects.end()) return CKR_OBJECT_HANDLE_INVALID;
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        auto a = it->second.find(t[i].type);
        if (a == it->second.end()) {
            t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (t[i].pValue == nullptr) {
            t[i].ulValueLen = f.absurdLengths ? kAbsurdLength : a->second.size();
        } else if (t[i].ulValueLen < a->second.size()) {
            t[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            std::memcpy(t[i].pValue, a->second.data(), a->second.size());
            t[i].ulValueLen = f.absurdLengths ? kAbsurdLength : a->second.size();
        }
    }
    return rv;
}

CK_RV F_CreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE* t, CK_ULONG count, CK_OBJECT_HANDLE* object) {
    if (g_pFake->onCreateObject) g_pFake->onCreateObject();
    FAKE_ENTER("C_CreateObject");
    if (FindSession(f, session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    FakePkcs11::Attributes attributes = FromTemplate(t, count);
    attributes.emplace(CKA_VALUE, std::vector<uint8_t>());
    *object = f.AddObject(attributes);
    return CKR_OK;
}

CK_RV F_DestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    FAKE_ENTER("C_DestroyObject");
    if (FindSession(f, session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    return f.objects.erase(object) ? CKR_OK : CKR_OBJECT_HANDLE_INVALID;
}

CK_RV F_GenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM*, CK_ATTRIBUTE* pub, CK_ULONG pubCount,
                        CK_ATTRIBUTE* priv, CK_ULONG privCount, CK_OBJECT_HANDLE* pubKey, CK_OBJECT_HANDLE* privKey) {
    FAKE_ENTER("C_GenerateKeyPair");
    if (FindSession(f, session) == nullptr) return CKR_SESSION_HANDLE_INVALID;
    FakePkcs11::Attributes p = FromTemplate(pub, pubCount);
    FakePkcs11::Attributes q = FromTemplate(priv, privCount);
    CK_ULONG bits = 0;
    if (p[CKA_MODULUS_BITS].size() == sizeof(CK_ULONG)) std::memcpy(&bits, p[CKA_MODULUS_BITS].data(), sizeof(bits));
    if (bits < 256 || bits > 16384) return CKR_KEY_SIZE_RANGE;
    std::vector<uint8_t> modulus((bits + 7) / 8, 0xC5);
    p[CKA_MODULUS] = modulus;
    q[CKA_MODULUS] = modulus;
    *pubKey = f.AddObject(p);
    *privKey = f.AddObject(q);
    return CKR_OK;
}

CK_RV CryptInit(FakePkcs11& f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!f.objects.count(key)) return CKR_KEY_HANDLE_INVALID;
    s->cryptInit = true;  // an operation left over by an injected fault is simply replaced
    return CKR_OK;
}

// The fake's keys hand the block back unchanged.
CK_RV Crypt(FakePkcs11& f, CK_SESSION_HANDLE session, CK_BYTE* in, CK_ULONG length, CK_BYTE* out,
            CK_ULONG* outLength) {
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    if (!s->cryptInit) return CKR_OPERATION_NOT_INITIALIZED;
    if (out == nullptr) {
        *outLength = length;
        return CKR_OK;
    }
    if (*outLength < length) {
        *outLength = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::memmove(out, in, length);
    *outLength = f.absurdLengths ? kAbsurdLength : length;
    s->cryptInit = false;
    return CKR_OK;
}

CK_RV F_EncryptInit(CK_SESSION_HANDLE session, CK_MECHANISM*, CK_OBJECT_HANDLE key) {
    FAKE_ENTER("C_EncryptInit");
    return CryptInit(f, session, key);
}
CK_RV F_Encrypt(CK_SESSION_HANDLE session, CK_BYTE* in, CK_ULONG length, CK_BYTE* out, CK_ULONG* outLength) {
    FAKE_ENTER("C_Encrypt");
    return Crypt(f, session, in, length, out, outLength);
}
CK_RV F_DecryptInit(CK_SESSION_HANDLE session, CK_MECHANISM*, CK_OBJECT_HANDLE key) {
    FAKE_ENTER("C_DecryptInit");
    // A private key serves only a logged-in user.
    FakePkcs11::Session* s = FindSession(f, session);
    auto it = f.objects.find(key);
    if (s != nullptr && it != f.objects.end() && !f.FindSlot(s->slot)->loggedIn) {
        auto cls = it->second.find(CKA_CLASS);
        if (cls != it->second.end() && cls->second == FakePkcs11::Ulong(CKO_PRIVATE_KEY)) return CKR_USER_NOT_LOGGED_IN;
    }
    return CryptInit(f, session, key);
}
CK_RV F_Decrypt(CK_SESSION_HANDLE session, CK_BYTE* in, CK_ULONG length, CK_BYTE* out, CK_ULONG* outLength) {
    FAKE_ENTER("C_Decrypt");
    return Crypt(f, session, in, length, out, outLength);
}

CK_RV F_Login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR* pin, CK_ULONG length) {
    FAKE_ENTER("C_Login");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    FakePkcs11::Slot& slot = *f.FindSlot(s->slot);
    if (slot.loggedIn) return CKR_USER_ALREADY_LOGGED_IN;
    const std::string given(reinterpret_cast<const char*>(pin), pin ? length : 0);
    if (given != (user == CKU_SO ? slot.soPin : slot.userPin)) return CKR_PIN_INCORRECT;
    slot.loggedIn = user != CKU_SO;
    return CKR_OK;
}

CK_RV F_Logout(CK_SESSION_HANDLE session) {
    FAKE_ENTER("C_Logout");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    f.FindSlot(s->slot)->loggedIn = false;
    return CKR_OK;
}

CK_RV F_InitPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR* pin, CK_ULONG length) {
    FAKE_ENTER("C_InitPIN");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    f.FindSlot(s->slot)->userPin.assign(reinterpret_cast<const char*>(pin), pin ? length : 0);
    return CKR_OK;
}

CK_RV F_SetPIN(CK_SESSION_HANDLE session, CK_UTF8CHAR* oldPin, CK_ULONG oldLength, CK_UTF8CHAR* newPin,
               CK_ULONG newLength) {
    FAKE_ENTER("C_SetPIN");
    FakePkcs11::Session* s = FindSession(f, session);
    if (s == nullptr) return CKR_SESSION_HANDLE_INVALID;
    FakePkcs11::Slot& slot = *f.FindSlot(s->slot);
    if (std::string(reinterpret_cast<const char*>(oldPin), oldPin ? oldLength : 0) != slot.userPin) {
        return CKR_PIN_INCORRECT;
    }
    slot.userPin.assign(reinterpret_cast<const char*>(newPin), newPin ? newLength : 0);
    return CKR_OK;
}

CK_RV F_InitToken(CK_SLOT_ID id, CK_UTF8CHAR* pin, CK_ULONG length, CK_UTF8CHAR*) {
    FAKE_ENTER("C_InitToken");
    FakePkcs11::Slot* slot = f.FindSlot(id);
    if (slot == nullptr) return CKR_SLOT_ID_INVALID;
    if (!slot->present) return CKR_TOKEN_NOT_PRESENT;
    if (pin != nullptr && std::string(reinterpret_cast<const char*>(pin), length) != slot->soPin) {
        return CKR_PIN_INCORRECT;
    }
    f.objects.clear();
    return CKR_OK;
}

CK_RV F_GetFunctionList(CK_FUNCTION_LIST** list) {
    if (g_pFake == nullptr || list == nullptr) return CKR_GENERAL_ERROR;
    *list = &g_pFake->list;
    return CKR_OK;
}

class FakeLibrary final : public ILoadedLibrary {
public:
    void* GetExport(const char* name) override {
        return std::strcmp(name, "C_GetFunctionList") == 0 ? reinterpret_cast<void*>(&F_GetFunctionList) : nullptr;
    }
};

class FakeLoader final : public ILibraryLoader {
public:
    std::unique_ptr<ILoadedLibrary> Load(std::u16string_view, uint32_t& error) override {
        error = 0;
        return std::make_unique<FakeLibrary>();
    }
};

}  // namespace

FakePkcs11::FakePkcs11() : m_pLoader(std::make_unique<FakeLoader>()) {
    g_pFake = this;
    list.version = {2, 20};
    list.C_Initialize = F_Initialize;
    list.C_Finalize = F_Finalize;
    list.C_GetFunctionList = F_GetFunctionList;
    list.C_GetSlotList = F_GetSlotList;
    list.C_GetSlotInfo = F_GetSlotInfo;
    list.C_GetTokenInfo = F_GetTokenInfo;
    list.C_WaitForSlotEvent = F_WaitForSlotEvent;
    list.C_OpenSession = F_OpenSession;
    list.C_CloseSession = F_CloseSession;
    list.C_GetSessionInfo = F_GetSessionInfo;
    list.C_FindObjectsInit = F_FindObjectsInit;
    list.C_FindObjects = F_FindObjects;
    list.C_FindObjectsFinal = F_FindObjectsFinal;
    list.C_GetAttributeValue = F_GetAttributeValue;
    list.C_CreateObject = F_CreateObject;
    list.C_DestroyObject = F_DestroyObject;
    list.C_GenerateKeyPair = F_GenerateKeyPair;
    list.C_EncryptInit = F_EncryptInit;
    list.C_Encrypt = F_Encrypt;
    list.C_DecryptInit = F_DecryptInit;
    list.C_Decrypt = F_Decrypt;
    list.C_Login = F_Login;
    list.C_Logout = F_Logout;
    list.C_InitPIN = F_InitPIN;
    list.C_SetPIN = F_SetPIN;
    list.C_InitToken = F_InitToken;
    slots.push_back({1, "Fake Reader 0"});
}

FakePkcs11::~FakePkcs11() {
    if (g_pFake == this) g_pFake = nullptr;
}

void FakePkcs11::Fail(const std::string& name, CK_RV rv, int times) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    m_faults[name] = {rv, times};
}

bool FakePkcs11::TakeFault(const char* name, CK_RV& rv) {
    auto it = m_faults.find(name);
    if (it == m_faults.end()) return false;
    rv = it->second.rv;
    if (it->second.times > 0 && --it->second.times == 0) m_faults.erase(it);
    return true;
}

void FakePkcs11::SetPresent(CK_SLOT_ID id, bool present) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    Slot* slot = FindSlot(id);
    if (slot == nullptr || slot->present == present) return;
    slot->present = present;
    if (present) return;
    slot->loggedIn = false;
    for (auto it = sessions.begin(); it != sessions.end();) {
        it = it->second.slot == id ? sessions.erase(it) : std::next(it);
    }
}

void FakePkcs11::HoldSlotEventWaits(bool hold) {
    std::lock_guard<std::mutex> lock(waitMutex);
    holdWaits = hold;
    waitChanged.notify_all();
}

bool FakePkcs11::WaitForHeldWait() {
    std::unique_lock<std::mutex> lock(waitMutex);
    return waitChanged.wait_for(lock, std::chrono::seconds(5), [&] { return heldWaits > 0; });
}

FakePkcs11::Slot* FakePkcs11::FindSlot(CK_SLOT_ID id) {
    for (Slot& slot : slots) {
        if (slot.id == id) return &slot;
    }
    return nullptr;
}

std::vector<uint8_t> FakePkcs11::Ulong(CK_ULONG value) {
    std::vector<uint8_t> out(sizeof(value));
    std::memcpy(out.data(), &value, sizeof(value));
    return out;
}

CK_OBJECT_HANDLE FakePkcs11::AddObject(const Attributes& attributes) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    objects[nextObject] = attributes;
    return nextObject++;
}

CK_OBJECT_HANDLE FakePkcs11::AddContainer(const std::string& name) {
    return AddObject({{CKA_CLASS, Ulong(kCkoContainer)}, {CKA_LABEL, Bytes(name)}, {CKA_VALUE, {}}});
}

void FakePkcs11::AddKeyPair(const std::string& keyId, uint32_t bits) {
    const std::vector<uint8_t> modulus((bits + 7) / 8, 0xC5);
    for (CK_OBJECT_CLASS cls : {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
        AddObject({{CKA_CLASS, Ulong(cls)},
                   {CKA_KEY_TYPE, Ulong(CKK_RSA)},
                   {CKA_ID, Bytes(keyId)},
                   {CKA_MODULUS, modulus},
                   {CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01}}});
    }
}

}  // namespace corvane::test
