#include "token/p11_containers.h"

#include <cstring>

#include "token/named_lock.h"
#include "token/p11_error.h"
#include "token/p11_names.h"
#include "token/p11_session.h"

namespace corvane {

namespace {
constexpr uint32_t kPollMilliseconds = 10;
}  // namespace

CP11Containers::CP11Containers(CP11Binding& binding) : m_binding(binding) {}

MutexHandle CP11Containers::ContainerMutex(const P11Slot& slot) {
    IMutexes* mutexes = m_binding.GetPlatform().mutexes;
    return mutexes ? mutexes->OpenOrCreate(ContainerMutexName(slot.Description()), true) : nullptr;
}

uint32_t CP11Containers::EnsureSession(P11Slot& slot) {
    if (!m_binding.IsInitialised()) return TokenError::NteFail;
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    bool died = false;
    if (slot.m_hSession != 0) {
        CK_SESSION_INFO info {};
        if (F()->C_GetSessionInfo(slot.m_hSession, &info) == CKR_OK) return 0;
        F()->C_CloseSession(slot.m_hSession);
        slot.m_hSession = 0;
        died = true;
        // The working session died with the token (pulled out and put back between two polls,
        // or reset): object handles learnt before may now name other objects or none, so the
        // list and its caches are dropped and the next lookup enumerates the token afresh.
        StopEnumeration(slot);
        ClearContainers(slot);
    }
    CK_SESSION_HANDLE handle = 0;
    const CK_RV rv = F()->C_OpenSession(slot.LibrarySlotId(), kSessionFlags, nullptr, nullptr, &handle);
    if (rv != CKR_OK) return MapP11Error(rv);
    slot.m_hSession = handle;
    if (died) {
        // The token in the slot may be another card now: its serial is read again, so that the
        // slot list, the slot state and the card sign-in name the card that is there (all zero,
        // unknown, when it cannot be read).
        CK_TOKEN_INFO token {};
        if (F()->C_GetTokenInfo(slot.LibrarySlotId(), &token) != CKR_OK) {
            std::memset(token.serialNumber, 0, sizeof(token.serialNumber));
        }
        slot.SetSerial(token.serialNumber);
    }
    return 0;
}

void CP11Containers::CloseSession(P11Slot& slot) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    if (slot.m_hSession != 0) {
        if (F()) F()->C_CloseSession(slot.m_hSession);
        slot.m_hSession = 0;
    }
}

uint32_t CP11Containers::StartEnumeration(P11Slot& slot) {
    {
        CNamedLock lock(ContainerMutex(slot));
        if (slot.m_bRunning || slot.m_bDone || slot.m_bStopRequested) return 0;
    }
    // The working session is opened before the token is listed and stays open while the token is
    // in: a library may number a token's objects afresh once none of this process's sessions is
    // open (SoftHSM2 does), and the container handles handed out from the list must stay valid.
    // A failure here leaves the enumeration to report the token's state.
    EnsureSession(slot);
    {
        CNamedLock lock(ContainerMutex(slot));
        if (slot.m_bRunning || slot.m_bDone || slot.m_bStopRequested) return 0;
        // Marked running before the thread exists, so that a second caller arriving meanwhile
        // does not start a second enumeration.
        slot.m_bRunning = 1;
        slot.m_bStopRequested = 0;
        slot.m_bThreadEnded = 0;
    }
    if (!m_binding.GetPlatform().threads->CreateThread([this, &slot] { EnumerationThread(slot); })) {
        CNamedLock lock(ContainerMutex(slot));
        slot.m_bRunning = 0;
        return TokenError::NotEnoughMemory;
    }
    return 0;
}

void CP11Containers::EnumerationThread(P11Slot& slot) {
    {
        CNamedLock lock(ContainerMutex(slot));
        if (slot.m_bDone || slot.m_bStopRequested) {
            slot.m_bRunning = 0;
            slot.m_bThreadEnded = 1;
            return;
        }
        slot.m_bRunning = 1;
        slot.m_bDone = 0;
    }
    const uint32_t result = EnumerateContainers(slot);
    CNamedLock lock(ContainerMutex(slot));
    if (result != 0) {
        ClearContainersLocked(slot);
        slot.m_bDone = 0;
    } else {
        slot.m_bDone = 1;
    }
    slot.m_dwLastResult = result;
    slot.m_bRunning = 0;
    slot.m_bThreadEnded = 1;
}

uint32_t CP11Containers::EnumerateContainers(P11Slot& slot) {
    if (!m_binding.IsInitialised()) return TokenError::NteFail;
    // The whole token is always searched: a container added by a direct search before this
    // enumeration began would otherwise be the only one listed. Duplicates are skipped.
    CK_OBJECT_CLASS cls = kCkoContainer;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &cls, sizeof(cls)}};
    CP11Search search(F());
    CK_RV rv = search.Start(slot.LibrarySlotId(), attributes, 1);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (slot.m_bStopRequested) return TokenError::Cancelled;
    for (;;) {
        CK_OBJECT_HANDLE object = 0;
        bool found = false;
        rv = search.Next(object, found);
        if (rv != CKR_OK) return MapP11Error(rv);
        if (!found) return 0;
        if (slot.m_bStopRequested) return TokenError::Cancelled;
        if (!m_binding.IsInitialised()) return TokenError::NteFail;
        if (!FitsHandle32(object)) continue;
        ContainerInfo info;
        CK_ULONG length = kLabelCapacity;
        const uint32_t rc = ReadLabel(search.Session(), object, info.szName, length);
        if (rc != 0) return rc;
        info.szName[length] = 0;
        info.hContainer = static_cast<uint32_t>(object);
        const uint32_t added = AddContainer(slot, info);
        if (added != 0) return added;
        if (slot.m_bStopRequested) return TokenError::Cancelled;
    }
}

void CP11Containers::StopEnumeration(P11Slot& slot) {
    {
        CNamedLock lock(ContainerMutex(slot));
        slot.m_bStopRequested = 1;
    }
    while (slot.m_bRunning) m_binding.GetPlatform().clock->Sleep(kPollMilliseconds);
}

void CP11Containers::ClearContainersLocked(P11Slot& slot) {
    std::vector<P11Container>().swap(slot.m_containers);
    slot.m_bRunning = 0;
    slot.m_bStopRequested = 0;
    slot.m_bDone = 0;
}

void CP11Containers::ClearContainers(P11Slot& slot) {
    CNamedLock lock(ContainerMutex(slot));
    ClearContainersLocked(slot);
}

uint32_t CP11Containers::AddContainer(P11Slot& slot, const ContainerInfo& info) {
    CNamedLock lock(ContainerMutex(slot));
    for (const P11Container& entry : slot.m_containers) {
        if (entry.info.Name() == info.Name()) return 0;
    }
    try {
        P11Container entry;
        entry.info = info;
        slot.m_containers.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
    return 0;
}

void CP11Containers::RemoveContainer(P11Slot& slot, uint32_t handle) {
    CNamedLock lock(ContainerMutex(slot));
    auto& list = slot.m_containers;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->info.hContainer == handle) {
            list.erase(it);
            return;
        }
    }
}

uint32_t CP11Containers::WaitForEntry(P11Slot& slot, const std::function<P11Container*(P11Slot&)>& pick,
                                      uint32_t missing, ContainerInfo* info) {
    if (StartEnumeration(slot) != 0) return TokenError::NteFail;
    for (;;) {
        {
            CNamedLock lock(ContainerMutex(slot));
            if (P11Container* entry = pick(slot)) {
                if (info) *info = entry->info;
                return 0;
            }
            if (slot.m_bDone) return missing;
            // No enumeration runs or is done (a removal has stopped it, or it failed): its error,
            // and never a success without a container to show for it.
            if (!slot.m_bRunning) return slot.m_dwLastResult != 0 ? slot.m_dwLastResult.load() : missing;
        }
        m_binding.GetPlatform().clock->Sleep(kPollMilliseconds);
    }
}

uint32_t CP11Containers::GetContainerByIndex(P11Slot& slot, uint32_t index, ContainerInfo* info) {
    return WaitForEntry(
        slot,
        [index](P11Slot& s) { return index < s.m_containers.size() ? &s.m_containers[index] : nullptr; },
        TokenError::NoMoreItems, info);
}

uint32_t CP11Containers::GetContainerByHandle(P11Slot& slot, uint32_t handle, ContainerInfo* info) {
    return WaitForEntry(
        slot,
        [handle](P11Slot& s) -> P11Container* {
            for (P11Container& entry : s.m_containers) {
                if (entry.info.hContainer == handle) return &entry;
            }
            return nullptr;
        },
        TokenError::NteBadKeyset, info);
}

uint32_t CP11Containers::FindContainerByName(P11Slot& slot, std::string_view name, ContainerInfo* info) {
    if (StartEnumeration(slot) != 0) return TokenError::NteFail;
    if (name.empty()) return GetContainerByIndex(slot, 0, info);
    {
        CNamedLock lock(ContainerMutex(slot));
        for (const P11Container& entry : slot.m_containers) {
            if (entry.info.Name() == name) {
                if (info) *info = entry.info;
                return 0;
            }
        }
        if (slot.m_bDone) return TokenError::NteBadKeyset;
    }
    return SearchContainerOnToken(slot, name, info);
}

uint32_t CP11Containers::SearchContainerOnToken(P11Slot& slot, std::string_view name, ContainerInfo* info) {
    uint32_t rc = EnsureSession(slot);
    if (rc != 0) return rc;
    if (name.size() > kLabelCapacity) return TokenError::NteBadKeyset;  // no such label can be listed
    CK_OBJECT_CLASS cls = kCkoContainer;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                 {CKA_LABEL, const_cast<char*>(name.data()), static_cast<CK_ULONG>(name.size())}};
    CP11Search search(F());
    CK_RV rv = search.Start(slot.LibrarySlotId(), attributes, name.empty() ? 1 : 2);
    if (rv != CKR_OK) return MapP11Error(rv);
    CK_OBJECT_HANDLE object = 0;
    bool found = false;
    rv = search.Next(object, found);
    if (rv != CKR_OK || !found || !FitsHandle32(object)) return TokenError::NteBadKeyset;
    ContainerInfo found_info;
    CK_ULONG length = kLabelCapacity;
    rc = ReadLabel(search.Session(), object, found_info.szName, length);
    if (rc != 0) return rc;
    found_info.szName[length] = 0;
    found_info.hContainer = static_cast<uint32_t>(object);
    rc = AddContainer(slot, found_info);
    if (rc != 0) return rc;
    if (info) *info = found_info;
    return 0;
}

bool CP11Containers::WithKeyInfo(P11Slot& slot, uint32_t container, uint32_t keySpec,
                                 const std::function<void(P11KeyInfo&)>& visit) {
    if (!IsKeySpec(keySpec)) return false;
    CNamedLock lock(ContainerMutex(slot));
    for (P11Container& entry : slot.m_containers) {
        if (entry.info.hContainer == container) {
            visit(entry.Key(keySpec));
            return true;
        }
    }
    return false;
}

}  // namespace corvane
