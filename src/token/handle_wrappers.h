// Scope owners used across the service: CryptoAPI provider and key handles (released through the
// key-container seam), heap byte buffers, and cipher and RSA handles of the service's own crypto
// library. Each releases what it owns when it is destroyed; none is copyable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cipher.h"
#include "crypto/rsa.h"
#include "platform/key_container.h"

namespace corvane {

// A CryptoAPI provider context (HCRYPTPROV); released with CryptReleaseContext(handle, 0).
class ChProv {
public:
    explicit ChProv(IKeyContainers* containers) : m_pContainers(containers) {}
    virtual ~ChProv();
    ChProv(const ChProv&) = delete;
    ChProv& operator=(const ChProv&) = delete;

    CryptProvHandle Get() const { return m_hProv; }
    CryptProvHandle* Out() { return &m_hProv; }
    // Releases the context now (errors ignored); the handle becomes 0.
    void Release();

    CryptProvHandle m_hProv = 0;

private:
    IKeyContainers* m_pContainers;
};

// A CryptoAPI key (HCRYPTKEY); destroyed with CryptDestroyKey.
class ChKey {
public:
    explicit ChKey(IKeyContainers* containers) : m_pContainers(containers) {}
    virtual ~ChKey();
    ChKey(const ChKey&) = delete;
    ChKey& operator=(const ChKey&) = delete;

    CryptKeyHandle Get() const { return m_hKey; }
    CryptKeyHandle* Out() { return &m_hKey; }
    void Release();

    CryptKeyHandle m_hKey = 0;

private:
    IKeyContainers* m_pContainers;
};

// A heap byte buffer, freed (and wiped, when its size is known) if owned.
class CBytePtr {
public:
    CBytePtr() = default;
    CBytePtr(uint8_t* p, bool owned, size_t size = 0) : m_pBytes(p), m_nOwned(owned ? 1 : 0), m_nSize(size) {}
    virtual ~CBytePtr();
    CBytePtr(const CBytePtr&) = delete;
    CBytePtr& operator=(const CBytePtr&) = delete;

    // Frees what is owned, then allocates size zeroed bytes it owns. False without memory.
    bool Allocate(size_t size);
    // Frees what is owned, then takes p (owned or not).
    void Attach(uint8_t* p, bool owned, size_t size = 0);
    void Free();
    uint8_t* Get() const { return m_pBytes; }
    size_t Size() const { return m_nSize; }

    uint8_t* m_pBytes = nullptr;
    uint32_t m_nOwned = 0;

private:
    size_t m_nSize = 0;  // known for buffers it allocated or was told about; wiped before freeing
};

// A cipher handle (crypto library); destroyed when owned.
class ChSymmCtx {
public:
    ChSymmCtx() = default;
    ChSymmCtx(CipherHandle handle, bool owned) : m_hCtx(handle), m_nOwned(owned ? 1 : 0) {}
    virtual ~ChSymmCtx();
    ChSymmCtx(const ChSymmCtx&) = delete;
    ChSymmCtx& operator=(const ChSymmCtx&) = delete;

    // Destroys an owned context, then takes the new handle.
    void Attach(CipherHandle handle, bool owned);
    // If owned and the handle is set, destroys the context and nulls the handle; clears owned.
    void Release();
    CipherHandle Get() const { return m_hCtx; }

    CipherHandle m_hCtx = nullptr;
    uint32_t m_nOwned = 0;
};

// An RSA handle (crypto library). Release destroys the context whatever the owned flag says.
class ChAsymmCtx {
public:
    ChAsymmCtx() = default;
    ChAsymmCtx(RsaHandle handle, bool owned) : m_hCtx(handle), m_nOwned(owned ? 1 : 0) {}
    virtual ~ChAsymmCtx();
    ChAsymmCtx(const ChAsymmCtx&) = delete;
    ChAsymmCtx& operator=(const ChAsymmCtx&) = delete;

    // Destroys a held context, nulls the handle and clears owned: the destruction's status (-104
    // for a handle that is no valid RSA handle, nulled all the same), or 0 with no handle.
    int32_t Release();
    // Releases what is held, then takes the new handle as owned.
    void Attach(RsaHandle handle);
    RsaHandle Get() const { return m_hCtx; }

    RsaHandle m_hCtx = nullptr;
    uint32_t m_nOwned = 0;
};

}  // namespace corvane
