#include "token/handle_wrappers.h"

#include <new>

#include "crypto/secure_zero.h"

namespace corvane {

ChProv::~ChProv() { Release(); }

void ChProv::Release() {
    if (m_hProv && m_pContainers) m_pContainers->ReleaseContext(m_hProv);
    m_hProv = 0;
}

ChKey::~ChKey() { Release(); }

void ChKey::Release() {
    if (m_hKey && m_pContainers) m_pContainers->DestroyKey(m_hKey);
    m_hKey = 0;
}

CBytePtr::~CBytePtr() { Free(); }

void CBytePtr::Free() {
    if (m_pBytes && m_nOwned) {
        SecureZero(m_pBytes, m_nSize);
        delete[] m_pBytes;
        m_pBytes = nullptr;
        m_nOwned = 0;
    }
}

bool CBytePtr::Allocate(size_t size) {
    Free();
    m_pBytes = new (std::nothrow) uint8_t[size ? size : 1]();
    m_nOwned = m_pBytes ? 1 : 0;
    m_nSize = m_pBytes ? size : 0;
    return m_pBytes != nullptr;
}

void CBytePtr::Attach(uint8_t* p, bool owned, size_t size) {
    Free();
    m_pBytes = p;
    m_nOwned = owned ? 1 : 0;
    m_nSize = size;
}

ChSymmCtx::~ChSymmCtx() { Release(); }

void ChSymmCtx::Release() {
    if (m_nOwned && m_hCtx) {
        CipherDestroy(m_hCtx);
        m_hCtx = nullptr;
    }
    m_nOwned = 0;
}

void ChSymmCtx::Attach(CipherHandle handle, bool owned) {
    Release();
    m_hCtx = handle;
    m_nOwned = owned ? 1 : 0;
}

ChAsymmCtx::~ChAsymmCtx() { Release(); }

int32_t ChAsymmCtx::Release() {
    int32_t rc = 0;
    if (m_hCtx) {
        rc = RsaDestroy(m_hCtx);
        m_hCtx = nullptr;
    }
    m_nOwned = 0;
    return rc;
}

void ChAsymmCtx::Attach(RsaHandle handle) {
    Release();
    m_hCtx = handle;
    m_nOwned = handle ? 1 : 0;
}

}  // namespace corvane
