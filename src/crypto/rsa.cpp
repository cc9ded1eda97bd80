#include "crypto/rsa.h"

#include <new>

#include "crypto/handle_table.h"
#include "crypto/rsa_der.h"
#include "crypto/rsa_key.h"
#include "crypto/rsa_keygen.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

struct RsaOperations {
    int32_t (*generate)(CRSA& key, uint32_t bits, uint32_t e, const RandomSource& random);
    int32_t (*import)(CRSA& key, uint32_t format, const uint8_t* der, size_t length);
    int32_t (*export_)(const CRSA& key, uint32_t what, uint8_t* out, uint32_t* outLength);
    int32_t (*publicOperation)(const CRSA& key, const uint8_t* in, uint32_t length, uint8_t* out);
    int32_t (*privateOperation)(const CRSA& key, const uint8_t* in, uint32_t length, uint8_t* out);
};

const RsaOperations kOperations = {
    GenerateRsaKey,
    ImportRsaDer,
    ExportRsa,
    [](const CRSA& key, const uint8_t* in, uint32_t length, uint8_t* out) { return key.Public(in, length, out); },
    [](const CRSA& key, const uint8_t* in, uint32_t length, uint8_t* out) { return key.Private(in, length, out); },
};

struct RsaCtx {
    CRSA* m_pKey;  // owned
    uint32_t m_nAlgorithm;
    const RsaOperations* m_pOperations;
    RsaCtx* m_pSelf;
};

RsaCtx* Lookup(RsaHandle handle) { return FromHandle<RsaCtx>(handle, kRsaHandleBias, RsaHandleTable()); }

// Wraps a finished key into a context and hands out its handle; frees the key on failure.
int32_t Publish(CRSA* key, RsaHandle* handle) {
    auto* ctx = new (std::nothrow) RsaCtx {key, kRsaAlgorithm, &kOperations, nullptr};
    if (!ctx) {
        delete key;
        return CryptoStatus::NoMemory;
    }
    ctx->m_pSelf = ctx;
    if (!RsaHandleTable().Add(ctx)) {
        delete key;
        delete ctx;
        return CryptoStatus::NoMemory;
    }
    *handle = ToHandle<RsaHandle>(ctx, kRsaHandleBias);
    return CryptoStatus::Ok;
}

}  // namespace

int32_t RsaGenerate(RsaHandle* handle, uint32_t bits, uint32_t e, const RandomSource& random) {
    if (!handle) return CryptoStatus::NullPointer;
    auto* key = new (std::nothrow) CRSA;
    if (!key) return CryptoStatus::NoMemory;
    if (int32_t rc = kOperations.generate(*key, bits, e, random)) {
        delete key;
        return rc;
    }
    return Publish(key, handle);
}

int32_t RsaImport(RsaHandle* handle, uint32_t* bits, uint32_t format, const uint8_t* der, uint32_t length) {
    if (!handle || !der) return CryptoStatus::NullPointer;
    if (format != RsaFormat::PublicKey && format != RsaFormat::PrivateKey) return CryptoStatus::UnknownKeyFormat;
    auto* key = new (std::nothrow) CRSA;
    if (!key) return CryptoStatus::NoMemory;
    if (int32_t rc = kOperations.import(*key, format, der, length)) {
        delete key;  // the half-built key is wiped by its numbers' destructors
        return rc;
    }
    if (bits) *bits = key->m_bnN.BitLength();
    return Publish(key, handle);
}

int32_t RsaExport(RsaHandle handle, uint32_t what, uint8_t* out, uint32_t* outLength) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    return ctx->m_pOperations->export_(*ctx->m_pKey, what, out, outLength);
}

int32_t RsaPublic(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!in || !out) return CryptoStatus::NullPointer;
    return ctx->m_pOperations->publicOperation(*ctx->m_pKey, in, length, out);
}

int32_t RsaPrivate(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!in || !out) return CryptoStatus::NullPointer;
    return ctx->m_pOperations->privateOperation(*ctx->m_pKey, in, length, out);
}

int32_t RsaPrivateBlinded(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out,
                          const RandomSource& random) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!in || !out) return CryptoStatus::NullPointer;
    return ctx->m_pKey->PrivateBlinded(in, length, out, random);
}

int32_t RsaPrivateBlinded(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out,
                          const RandomSource& random, CRsaBlinding& blinding) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!in || !out) return CryptoStatus::NullPointer;
    return ctx->m_pKey->PrivateBlinded(in, length, out, random, blinding);
}

int32_t RsaDestroy(RsaHandle handle) {
    RsaCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    RsaHandleTable().Remove(ctx);
    delete ctx->m_pKey;
    SecureZero(ctx, sizeof *ctx);
    delete ctx;
    return CryptoStatus::Ok;
}

}  // namespace corvane
