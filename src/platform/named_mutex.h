// Named mutexes as the service uses them: opened or else created (null DACL, inheritable),
// recursive, waited for without a time-out, failures ignored. Names with the "Global\\" prefix
// are shared machine-wide with the companion components; the others live in the service's
// session namespace. A null handle means its users proceed unlocked.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace corvane {

class INamedMutex {
public:
    virtual ~INamedMutex() = default;
    virtual void Lock() = 0;    // WaitForSingleObject(INFINITE); failures ignored
    virtual void Unlock() = 0;  // ReleaseMutex
};

using MutexHandle = std::shared_ptr<INamedMutex>;

class IMutexes {
public:
    virtual ~IMutexes() = default;
    // OpenMutexW, else CreateMutexW with a null DACL and no initial owner. Null on failure, with
    // the system's error in `error` (0 on success).
    virtual MutexHandle OpenOrCreate(std::u16string_view name, bool inheritable, uint32_t& error) = 0;
    MutexHandle OpenOrCreate(std::u16string_view name, bool inheritable) {
        uint32_t error = 0;
        return OpenOrCreate(name, inheritable, error);
    }
};

// Holds a named mutex for a scope; a null handle locks nothing.
class MutexGuard {
public:
    explicit MutexGuard(INamedMutex* mutex) : m_pMutex(mutex) {
        if (m_pMutex) m_pMutex->Lock();
    }
    explicit MutexGuard(const MutexHandle& mutex) : MutexGuard(mutex.get()) {}
    ~MutexGuard() {
        if (m_pMutex) m_pMutex->Unlock();
    }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    INamedMutex* m_pMutex;
};

}  // namespace corvane
