#include "token/p11_binding.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "token/named_lock.h"
#include "token/p11_error.h"
#include "token/p11_names.h"

namespace corvane {

namespace {

// The library functions the token layer calls. A library whose list leaves one of them out is
// refused at load, so that no call ever goes through a null pointer.
bool HasEveryFunction(const CK_FUNCTION_LIST& f) {
    const void* used[] = {
        reinterpret_cast<const void*>(f.C_Initialize),       reinterpret_cast<const void*>(f.C_Finalize),
        reinterpret_cast<const void*>(f.C_GetSlotList),      reinterpret_cast<const void*>(f.C_GetSlotInfo),
        reinterpret_cast<const void*>(f.C_GetTokenInfo),     reinterpret_cast<const void*>(f.C_WaitForSlotEvent),
        reinterpret_cast<const void*>(f.C_OpenSession),      reinterpret_cast<const void*>(f.C_CloseSession),
        reinterpret_cast<const void*>(f.C_GetSessionInfo),   reinterpret_cast<const void*>(f.C_FindObjectsInit),
        reinterpret_cast<const void*>(f.C_FindObjects),      reinterpret_cast<const void*>(f.C_FindObjectsFinal),
        reinterpret_cast<const void*>(f.C_GetAttributeValue), reinterpret_cast<const void*>(f.C_CreateObject),
        reinterpret_cast<const void*>(f.C_DestroyObject),    reinterpret_cast<const void*>(f.C_GenerateKeyPair),
        reinterpret_cast<const void*>(f.C_EncryptInit),      reinterpret_cast<const void*>(f.C_Encrypt),
        reinterpret_cast<const void*>(f.C_DecryptInit),      reinterpret_cast<const void*>(f.C_Decrypt),
        reinterpret_cast<const void*>(f.C_Login),            reinterpret_cast<const void*>(f.C_Logout),
        reinterpret_cast<const void*>(f.C_InitPIN),          reinterpret_cast<const void*>(f.C_SetPIN),
        reinterpret_cast<const void*>(f.C_InitToken),
    };
    return std::all_of(std::begin(used), std::end(used), [](const void* p) { return p != nullptr; });
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

CP11Binding::CP11Binding(Platform& platform) : m_platform(platform) {}

CP11Binding::~CP11Binding() = default;

uint32_t CP11Binding::LoadP11Library() {
    if (m_strLibraryPath.empty()) {
        std::u16string path;
        if (m_platform.registry == nullptr ||
            RegQueryString(*m_platform.registry, kP11LibraryKey, kLibPkcs11Value, path, kLibPkcs11MaxBytes) != 0) {
            return TokenError::NteFail;
        }
        m_strLibraryPath = path;
    }
    if (m_platform.libraries == nullptr) return TokenError::NteProviderDllFail;
    uint32_t error = 0;
    std::unique_ptr<ILoadedLibrary> library = m_platform.libraries->Load(m_strLibraryPath, error);
    if (!library) {
        std::string text = m_platform.libraries->LastLoadErrorText();
        std::u16string systemText;
        if (text.empty() && m_platform.systemMessages && m_platform.systemMessages->FormatSystemMessage(error, systemText)) {
            text = Utf16ToUtf8(systemText);
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        ReportLoadProblem("cannot be loaded: " + (text.empty() ? "error " + std::to_string(error) : text));
        return TokenError::NteProviderDllFail;
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(library->GetExport("C_GetFunctionList"));
    if (getFunctionList == nullptr) {  // unloaded with `library`
        ReportLoadProblem("does not export C_GetFunctionList");
        return TokenError::NteProviderDllFail;
    }
    CK_FUNCTION_LIST_PTR functions = nullptr;
    const CK_RV rv = getFunctionList(&functions);
    if (rv != CKR_OK || functions == nullptr) {
        ReportLoadProblem("gives no function list (C_GetFunctionList returned " + std::to_string(rv) + ")");
        return TokenError::NteProviderDllFail;
    }
    if (!HasEveryFunction(*functions)) {
        ReportLoadProblem("lacks functions the service calls (its function list has empty entries)");
        return TokenError::NteProviderDllFail;
    }
    // A library that was loaded successfully stays loaded.
    m_pLibrary = std::move(library);
    m_pFunctions = functions;
    return 0;
}

void CP11Binding::ReportLoadProblem(const std::string& problem) {
    // The load is retried on every slot refresh: each problem is said once.
    if (problem == m_strLastLoadProblem || m_platform.diagnostics == nullptr) return;
    m_strLastLoadProblem = problem;
    m_platform.diagnostics->Writef("LibPkcs11 %s %s; tokens stay unavailable until it loads",
                                   Utf16ToUtf8(m_strLibraryPath).c_str(), problem.c_str());
}

uint32_t CP11Binding::InitP11() {
    std::lock_guard<std::recursive_mutex> binding(m_bindingLock);
    if (IsInitialised()) return 0;
    if (Functions() == nullptr) {
        const uint32_t rc = LoadP11Library();
        if (rc != 0) return rc;
    }
    // The library is called from the slot event thread, the enumeration threads and the request
    // threads at once, so it is told to use the operating system's locking.
    CK_C_INITIALIZE_ARGS args {};
    args.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = Functions()->C_Initialize(&args);
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) return TokenError::NteFail;
    if (!m_hSlotTableMutex && m_platform.mutexes) m_hSlotTableMutex = m_platform.mutexes->OpenOrCreate(kMutexP11Slots, true);
    m_bInitialised = 1;
    uint32_t rc = 0;
    {
        MutexGuard table(m_hSlotTableMutex);
        rc = RefreshTable();
    }
    if (rc != 0) {
        FinP11();
        return rc;
    }
    m_bEventThreadFinished = 0;
    m_bEventThreadStarted = 1;
    const uint32_t epoch = ++m_dwEventEpoch;
    if (!m_platform.threads->CreateThread([this, epoch] { SlotEventThread(epoch); })) {
        m_bEventThreadStarted = 0;
        m_bEventThreadFinished = 1;
    }
    return 0;
}

uint32_t CP11Binding::FinP11() {
    CK_RV rv = CKR_OK;
    // Container enumerations still inside the library end before it is finalised: finalising
    // frees the library's sessions and locks under a thread that is using them. Their lists go
    // with them, as every handle in them dies with the library.
    if (m_pWork && IsInitialised()) {
        for (uint32_t i = 0; i < SlotCount(); ++i) {
            m_pWork->StopEnumeration(SlotAt(i));
            m_pWork->ClearContainers(SlotAt(i));
        }
    }
    {
        std::lock_guard<std::recursive_mutex> binding(m_bindingLock);
        if (!IsInitialised()) return 0;
        rv = Functions()->C_Finalize(nullptr);
        m_bFinalising = 1;
    }
    // The event thread's blocked wait returns CKR_CRYPTOKI_NOT_INITIALIZED now; it may still be
    // inside a refresh that needs the binding, so the binding lock is not held while waiting. A
    // library whose wait does not return on finalisation must not hold up the service's stop: after
    // a bounded wait the thread is left behind, and it ends without touching the binding whenever
    // its wait returns.
    if (m_bEventThreadStarted.load()) {
        for (uint32_t waited = 0; !EventThreadFinished() && waited < kEventThreadEndMilliseconds; waited += 10) {
            m_platform.clock->Sleep(10);
        }
        if (!EventThreadFinished()) ++m_dwEventEpoch;
        m_bEventThreadStarted = 0;
    }
    std::lock_guard<std::recursive_mutex> binding(m_bindingLock);
    for (size_t i = 0; i < m_dwSlotHighWater.load(); ++i) OnTokenRemoved(m_arrP11Slot[i]);
    m_hSlotTableMutex.reset();
    m_bInitialised = 0;
    m_bFinalising = 0;
    return MapP11Error(rv);
}

uint32_t CP11Binding::RefreshSlots() {
    const uint32_t rc = InitP11();
    if (rc != 0) return rc;
    MutexHandle table;
    {
        std::lock_guard<std::recursive_mutex> binding(m_bindingLock);
        table = m_hSlotTableMutex;
    }
    MutexGuard lock(table);
    return RefreshTable();
}

uint32_t CP11Binding::RefreshTable() {
    CK_FUNCTION_LIST* f = Functions();
    CK_ULONG listed = 0;
    CK_RV rv = f->C_GetSlotList(CK_FALSE, nullptr, &listed);
    if (rv != CKR_OK) return MapP11Error(rv);
    // A count no library could mean is not allocated for.
    if (listed > kMaxListedSlots) return TokenError::NteNoMemory;
    std::vector<CK_SLOT_ID> ids;
    try {
        ids.resize(listed);
    } catch (const std::exception&) {  // bad_alloc or an absurd count
        return TokenError::NteNoMemory;
    }
    CK_ULONG returned = listed;
    rv = f->C_GetSlotList(CK_FALSE, ids.data(), &returned);
    if (rv != CKR_OK) return MapP11Error(rv);
    size_t n = std::min<size_t>({static_cast<size_t>(returned), ids.size(), kMaxSlots});

    const uint32_t count = m_dwSlotCount.load();
    if (n < count) {
        m_dwSlotCount = static_cast<uint32_t>(n);
        return 0;
    }
    for (size_t i = count; i < n; ++i) {
        P11Slot& slot = m_arrP11Slot[i];
        // A position listed again after the list had shrunk may still hold a token's session and
        // containers; they are released before the record is filled anew.
        if (i < m_dwSlotHighWater.load()) OnTokenRemoved(slot);
        CK_SLOT_INFO info {};
        rv = f->C_GetSlotInfo(ids[i], &info);
        if (rv != CKR_OK) return MapP11Error(rv);
        slot.Fill(ids[i], info.slotDescription, sizeof(info.slotDescription));
        if (m_dwSlotHighWater.load() < i + 1) m_dwSlotHighWater = static_cast<uint32_t>(i + 1);
        if (info.flags & CKF_TOKEN_PRESENT) OnTokenInserted(slot);
    }
    m_dwSlotCount = static_cast<uint32_t>(n);
    return 0;
}

uint32_t CP11Binding::RefreshWhileInitialised() {
    MutexHandle table;
    {
        std::lock_guard<std::recursive_mutex> binding(m_bindingLock);
        if (!IsInitialised() || m_bFinalising) return TokenError::NteFail;
        table = m_hSlotTableMutex;
    }
    MutexGuard lock(table);
    return RefreshTable();
}

void CP11Binding::SlotEventThread(uint32_t epoch) {
    CK_FUNCTION_LIST* f = Functions();
    for (;;) {
        CK_SLOT_ID slotId = 0;
        const CK_RV rv = f->C_WaitForSlotEvent(0, &slotId, nullptr);
        // Left behind by a finalisation that stopped waiting for it: whatever the library says now
        // belongs to no binding of this thread's.
        if (m_dwEventEpoch.load() != epoch) return;
        if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) break;
        if (rv == CKR_OK) {
            if (!IsInitialised() || m_bFinalising) break;
            // Never initialises the library again: a finalisation may have begun meanwhile.
            RefreshWhileInitialised();
            if (P11Slot* slot = FindSlotById(static_cast<uint32_t>(slotId))) PollToken(*slot, nullptr);
            continue;
        }
        if (m_bFinalising) break;
        // A library that cannot block (or fails) is asked again after a pause.
        for (uint32_t waited = 0; waited < kEventRetryMilliseconds && !m_bFinalising; waited += 100) {
            m_platform.clock->Sleep(100);
        }
    }
    m_bEventThreadFinished = 1;
}

MutexHandle CP11Binding::OpenSlotMutex(const P11Slot& slot) {
    return m_platform.mutexes ? m_platform.mutexes->OpenOrCreate(SlotMutexName(slot.Description()), true) : nullptr;
}

uint32_t CP11Binding::PollToken(P11Slot& slot, uint32_t* present) {
    if (!IsInitialised()) return TokenError::NteFail;
    if (!slot.SlotMutexHandle()) slot.SetSlotMutexHandle(OpenSlotMutex(slot));
    uint32_t now = 0;
    {
        CNamedLock lock(OpenSlotMutex(slot));
        CK_SLOT_INFO info {};
        const CK_RV rv = Functions()->C_GetSlotInfo(slot.LibrarySlotId(), &info);
        if (rv != CKR_OK) return MapP11Error(rv);
        const bool before = slot.TokenPresent();
        now = (info.flags & CKF_TOKEN_PRESENT) ? 1 : 0;
        slot.SetTokenPresent(now != 0);
        if (before && !now) OnTokenRemoved(slot);
        if (!before && now) OnTokenInserted(slot);
        // Present before and now: the card may have been pulled and another (or the same) put
        // back between two polls. Its working session then died; reopening it reads the token's
        // serial again.
        if (before && now && m_pWork) m_pWork->EnsureSession(slot);
    }
    if (present) *present = now;
    return 0;
}

uint32_t CP11Binding::OnTokenInserted(P11Slot& slot) {
    if (!slot.ContainerMutexHandle() && m_platform.mutexes) {
        slot.SetContainerMutexHandle(m_platform.mutexes->OpenOrCreate(ContainerMutexName(slot.Description()), true));
    }
    if (!slot.SerialKnown()) {
        CK_TOKEN_INFO info {};
        const CK_RV rv = Functions()->C_GetTokenInfo(slot.LibrarySlotId(), &info);
        if (rv != CKR_OK) return MapP11Error(rv);
        slot.SetSerial(info.serialNumber);
    }
    if (m_pWork) {
        const uint32_t rc = m_pWork->EnsureSession(slot);
        if (rc != 0) return rc;
    }
    slot.SetTokenPresent(true);
    if (m_pWork) m_pWork->StartEnumeration(slot);
    return 0;
}

uint32_t CP11Binding::OnTokenRemoved(P11Slot& slot) {
    if (!IsInitialised()) return TokenError::NteFail;
    {
        CNamedLock lock(OpenSlotMutex(slot));
        if (m_pWork) m_pWork->CloseSession(slot);
        const uint8_t zero[SlotEntry::kSerialSize] = {};
        slot.SetSerial(zero);
        if (m_pWork) {
            m_pWork->StopEnumeration(slot);
            m_pWork->ClearContainers(slot);
        }
    }
    slot.SetSlotMutexHandle(nullptr);
    slot.SetContainerMutexHandle(nullptr);
    return 0;
}

uint32_t CP11Binding::ReadTokenSerial(P11Slot& slot, uint8_t serial[SlotEntry::kSerialSize]) {
    if (!IsInitialised()) return TokenError::NteFail;
    CK_TOKEN_INFO info {};
    const CK_RV rv = Functions()->C_GetTokenInfo(slot.LibrarySlotId(), &info);
    if (rv != CKR_OK) return MapP11Error(rv);
    std::memcpy(serial, info.serialNumber, SlotEntry::kSerialSize);
    return 0;
}

P11Slot* CP11Binding::FindSlotById(uint32_t slotId) {
    const uint32_t count = m_dwSlotCount.load();
    for (uint32_t i = 0; i < count; ++i) {
        if (m_arrP11Slot[i].SlotId() == slotId) return &m_arrP11Slot[i];
    }
    return nullptr;
}

P11Slot* CP11Binding::FindSlotByName(std::string_view name) {
    RefreshSlots();
    // A slot description holds at most 64 characters of a longer reader name. Libraries differ in
    // which: some keep its end, others (pcsc-lite based ones among them) its beginning, blank-padded,
    // so that the stored description also lost the blanks at the end of those 64 characters.
    std::string_view head = name;
    std::string_view tail = name;
    if (name.size() > kSlotDescriptionChars) {
        head = TrimTrailingBlanks(name.substr(0, kSlotDescriptionChars));
        tail = name.substr(name.size() - kSlotDescriptionChars);
    }
    const uint32_t count = m_dwSlotCount.load();
    for (uint32_t i = 0; i < count; ++i) {
        const std::string_view description = m_arrP11Slot[i].Description();
        if (EqualsAsciiNoCase(description, tail) || EqualsAsciiNoCase(description, head)) return &m_arrP11Slot[i];
    }
    return nullptr;
}

P11Slot* CP11Binding::FindSlotByName(std::u16string_view name) { return FindSlotByName(Utf16ToUtf8(name)); }

}  // namespace corvane
