// Holds a named mutex locked for a scope, keeping its handle alive meanwhile. The per-slot locks
// open a fresh handle for every lock; the handle must outlive the lock, since the slot's own
// long-lived handle may be closed (a token removal) while the lock is held.
#pragma once

#include <utility>

#include "platform/named_mutex.h"

namespace corvane {

class CNamedLock {
public:
    explicit CNamedLock(MutexHandle mutex) : m_hMutex(std::move(mutex)) {
        if (m_hMutex) m_hMutex->Lock();
    }
    ~CNamedLock() {
        if (m_hMutex) m_hMutex->Unlock();
    }
    CNamedLock(const CNamedLock&) = delete;
    CNamedLock& operator=(const CNamedLock&) = delete;

private:
    MutexHandle m_hMutex;
};

}  // namespace corvane
