// Owners of PKCS#11 sessions and searches. A search runs in a session of its own, and
// C_FindObjectsFinal is called on every way out once the search has been initialised.
#pragma once

#include <cstdint>

#include "token/pkcs11.h"

namespace corvane {

// One PKCS#11 session handle, closed when the owner goes.
class ChSession {
public:
    explicit ChSession(CK_FUNCTION_LIST* functions) : m_pFunctions(functions) {}
    virtual ~ChSession();
    ChSession(const ChSession&) = delete;
    ChSession& operator=(const ChSession&) = delete;

    // C_OpenSession on the slot with CKF_RW_SESSION | CKF_SERIAL_SESSION and no callback.
    CK_RV Open(CK_SLOT_ID slotId);
    CK_SESSION_HANDLE Get() const { return m_hSession; }

private:
    CK_FUNCTION_LIST* m_pFunctions;
    CK_SESSION_HANDLE m_hSession = 0;
};

// A search in a session of its own.
class CP11Search {
public:
    explicit CP11Search(CK_FUNCTION_LIST* functions) : m_pFunctions(functions), m_session(functions) {}
    ~CP11Search();
    CP11Search(const CP11Search&) = delete;
    CP11Search& operator=(const CP11Search&) = delete;

    // Opens the search session and starts the search for the template.
    CK_RV Start(CK_SLOT_ID slotId, CK_ATTRIBUTE* attributes, CK_ULONG count);
    // The next object: CKR_OK with found = false at the end.
    CK_RV Next(CK_OBJECT_HANDLE& object, bool& found);
    CK_SESSION_HANDLE Session() const { return m_session.Get(); }

private:
    CK_FUNCTION_LIST* m_pFunctions;
    ChSession m_session;
    bool m_bStarted = false;
};

constexpr CK_FLAGS kSessionFlags = CKF_RW_SESSION | CKF_SERIAL_SESSION;

// Object handles travel as u32 on the token protocol; a library handle that does not fit is
// treated as no handle.
inline bool FitsHandle32(CK_OBJECT_HANDLE handle) { return handle != 0 && handle < 0xFFFFFFFFUL; }

}  // namespace corvane
