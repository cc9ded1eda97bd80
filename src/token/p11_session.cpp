#include "token/p11_session.h"

namespace corvane {

ChSession::~ChSession() {
    if (m_hSession != 0) m_pFunctions->C_CloseSession(m_hSession);
}

CK_RV ChSession::Open(CK_SLOT_ID slotId) {
    return m_pFunctions->C_OpenSession(slotId, kSessionFlags, nullptr, nullptr, &m_hSession);
}

CP11Search::~CP11Search() {
    if (m_bStarted) m_pFunctions->C_FindObjectsFinal(m_session.Get());
}

CK_RV CP11Search::Start(CK_SLOT_ID slotId, CK_ATTRIBUTE* attributes, CK_ULONG count) {
    CK_RV rv = m_session.Open(slotId);
    if (rv != CKR_OK) return rv;
    rv = m_pFunctions->C_FindObjectsInit(m_session.Get(), attributes, count);
    if (rv == CKR_OK) m_bStarted = true;
    return rv;
}

CK_RV CP11Search::Next(CK_OBJECT_HANDLE& object, bool& found) {
    CK_ULONG count = 0;
    object = 0;
    const CK_RV rv = m_pFunctions->C_FindObjects(m_session.Get(), &object, 1, &count);
    // A library that claims more objects than asked for is read as having found one.
    found = rv == CKR_OK && count != 0;
    return rv;
}

}  // namespace corvane
