// The PKCS#11 library binding and the slot table: loads the library named in the registry,
// initialises it, keeps one record per library slot with the token state of each, follows slot
// events on a thread of its own, and handles token arrival and removal.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "token/p11_slot.h"
#include "token/pkcs11.h"

namespace corvane {

// The container work the binding starts and stops as tokens come and go.
class IP11SlotWork {
public:
    virtual ~IP11SlotWork() = default;
    virtual uint32_t EnsureSession(P11Slot& slot) = 0;
    virtual uint32_t StartEnumeration(P11Slot& slot) = 0;
    virtual void StopEnumeration(P11Slot& slot) = 0;
    virtual void ClearContainers(P11Slot& slot) = 0;
    // Closes the working session, if any.
    virtual void CloseSession(P11Slot& slot) = 0;
};

class CP11Binding {
public:
    static constexpr size_t kMaxSlots = 256;
    // The characters of a slot description (blank-padded in the library's slot information).
    static constexpr size_t kSlotDescriptionChars = 64;
    static constexpr CK_ULONG kMaxListedSlots = 65536;
    // Pause after a C_WaitForSlotEvent that failed, so that a library without blocking waits
    // never makes the event thread spin.
    static constexpr uint32_t kEventRetryMilliseconds = 1000;
    // How long finalisation waits for the slot event thread to end; well inside the service's
    // 15-second stop.
    static constexpr uint32_t kEventThreadEndMilliseconds = 2000;

    explicit CP11Binding(Platform& platform);
    ~CP11Binding();
    CP11Binding(const CP11Binding&) = delete;
    CP11Binding& operator=(const CP11Binding&) = delete;

    void SetSlotWork(IP11SlotWork* work) { m_pWork = work; }

    uint32_t LoadP11Library();
    uint32_t InitP11();
    uint32_t FinP11();
    uint32_t RefreshSlots();
    uint32_t PollToken(P11Slot& slot, uint32_t* present);
    // First slot whose description equals the name, ignoring the case of A-Z. A name longer than
    // a description matches a description equal to its last 64 characters or to its first 64
    // (without the blanks at their end).
    P11Slot* FindSlotByName(std::string_view name);
    P11Slot* FindSlotByName(std::u16string_view name);
    P11Slot* FindSlotById(uint32_t slotId);

    // The serial number of the token in the slot, read from the token now. 0 or an error.
    uint32_t ReadTokenSerial(P11Slot& slot, uint8_t serial[SlotEntry::kSerialSize]);

    bool IsInitialised() const { return m_bInitialised.load() != 0; }
    bool EventThreadFinished() const { return m_bEventThreadFinished.load() != 0; }
    // The library's function list; null until the library has been loaded.
    CK_FUNCTION_LIST* Functions() const { return m_pFunctions.load(); }
    uint32_t SlotCount() const { return m_dwSlotCount.load(); }
    P11Slot& SlotAt(size_t index) { return m_arrP11Slot[index]; }
    Platform& GetPlatform() { return m_platform; }

private:
    // One diagnostic line naming the library path and the problem, unless it was the last one said.
    void ReportLoadProblem(const std::string& problem);
    uint32_t RefreshTable();
    void SlotEventThread(uint32_t epoch);
    // RefreshSlots for the slot event thread: fails instead of initialising the library again.
    uint32_t RefreshWhileInitialised();
    uint32_t OnTokenInserted(P11Slot& slot);
    uint32_t OnTokenRemoved(P11Slot& slot);
    MutexHandle OpenSlotMutex(const P11Slot& slot);

    Platform& m_platform;
    IP11SlotWork* m_pWork = nullptr;
    std::unique_ptr<ILoadedLibrary> m_pLibrary;
    std::u16string m_strLibraryPath;  // read once, then kept
    std::string m_strLastLoadProblem;  // the last load problem said on the diagnostic output
    std::atomic<CK_FUNCTION_LIST*> m_pFunctions {nullptr};
    // Serialises InitP11 and FinP11 with each other (several request threads may retry the
    // initialisation at once while the binding is down).
    std::recursive_mutex m_bindingLock;
    std::atomic<uint32_t> m_bInitialised {0};
    std::atomic<uint32_t> m_bEventThreadStarted {0};
    std::atomic<uint32_t> m_bEventThreadFinished {1};
    // Set by FinP11 once C_Finalize has been called: the event thread ends at its next failed
    // wait even when the library does not answer CKR_CRYPTOKI_NOT_INITIALIZED.
    std::atomic<uint32_t> m_bFinalising {0};
    // Names the slot event thread of the current initialisation; a thread finalisation stopped
    // waiting for finds it changed and ends.
    std::atomic<uint32_t> m_dwEventEpoch {0};
    MutexHandle m_hSlotTableMutex;
    std::array<P11Slot, kMaxSlots> m_arrP11Slot;
    std::atomic<uint32_t> m_dwSlotCount {0};
    std::atomic<uint32_t> m_dwSlotHighWater {0};  // positions ever filled
};

}  // namespace corvane
