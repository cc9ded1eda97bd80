#include "crypto/digest.h"

#include <new>

#include "crypto/handle_table.h"
#include "crypto/md2.h"
#include "crypto/md5.h"
#include "crypto/secure_zero.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"

namespace corvane {

namespace {

struct DigestAlgorithm {
    uint32_t m_nId;
    uint32_t m_nSize;
    int32_t (*initialise)(void** state);
    int32_t (*release)(void* state);
    void (*update)(void* state, const uint8_t* data, size_t length);
    void (*final)(void* state, uint8_t* digest);
};

template <typename State, void (*Init)(State&)>
int32_t Initialise(void** state) {
    auto* s = new (std::nothrow) State;
    if (!s) return CryptoStatus::NoMemory;
    Init(*s);
    *state = s;
    return CryptoStatus::Ok;
}

template <typename State>
int32_t Release(void* state) {
    auto* s = static_cast<State*>(state);
    SecureZero(s, sizeof(State));
    delete s;
    return CryptoStatus::Ok;
}

template <typename State, void (*Update)(State&, const uint8_t*, size_t)>
void UpdateOf(void* state, const uint8_t* data, size_t length) {
    Update(*static_cast<State*>(state), data, length);
}

template <typename State, void (*Final)(State&, uint8_t*)>
void FinalOf(void* state, uint8_t* digest) {
    Final(*static_cast<State*>(state), digest);
}

template <typename State, void (*Final)(State&, uint8_t*, size_t), size_t Size>
void SizedFinalOf(void* state, uint8_t* digest) {
    Final(*static_cast<State*>(state), digest, Size);
}

void Md2FinalOf(Md2State& s, uint8_t* d) { Md2Final(s, d); }
void Md5FinalOf(Md5State& s, uint8_t* d) { Md5Final(s, d); }
void Sha1FinalOf(Sha1State& s, uint8_t* d) { Sha1Final(s, d); }

constexpr DigestAlgorithm kAlgorithms[] = {
    {DigestAlg::Sha1, 20, Initialise<Sha1State, Sha1Init>, Release<Sha1State>, UpdateOf<Sha1State, Sha1Update>,
     FinalOf<Sha1State, Sha1FinalOf>},
    {DigestAlg::Md2, 16, Initialise<Md2State, Md2Init>, Release<Md2State>, UpdateOf<Md2State, Md2Update>,
     FinalOf<Md2State, Md2FinalOf>},
    {DigestAlg::Md5, 16, Initialise<Md5State, Md5Init>, Release<Md5State>, UpdateOf<Md5State, Md5Update>,
     FinalOf<Md5State, Md5FinalOf>},
    {DigestAlg::Sha224, 28, Initialise<Sha256State, Sha224Init>, Release<Sha256State>,
     UpdateOf<Sha256State, Sha256Update>, SizedFinalOf<Sha256State, Sha256Final, 28>},
    {DigestAlg::Sha256, 32, Initialise<Sha256State, Sha256Init>, Release<Sha256State>,
     UpdateOf<Sha256State, Sha256Update>, SizedFinalOf<Sha256State, Sha256Final, 32>},
    {DigestAlg::Sha384, 48, Initialise<Sha512State, Sha384Init>, Release<Sha512State>,
     UpdateOf<Sha512State, Sha512Update>, SizedFinalOf<Sha512State, Sha512Final, 48>},
    {DigestAlg::Sha512, 64, Initialise<Sha512State, Sha512Init>, Release<Sha512State>,
     UpdateOf<Sha512State, Sha512Update>, SizedFinalOf<Sha512State, Sha512Final, 64>},
};

const DigestAlgorithm* FindAlgorithm(uint32_t id) {
    for (const auto& algorithm : kAlgorithms) {
        if (algorithm.m_nId == id) return &algorithm;
    }
    return nullptr;
}

struct DigestCtx {
    void* m_pState;  // owned
    uint32_t m_nAlgorithm;
    const DigestAlgorithm* m_pFunctions;
    DigestCtx* m_pSelf;
};

DigestCtx* Lookup(DigestHandle handle) { return FromHandle<DigestCtx>(handle, kDigestHandleBias, DigestHandleTable()); }

}  // namespace

uint32_t DigestSize(uint32_t algorithm) {
    const DigestAlgorithm* a = FindAlgorithm(algorithm);
    return a ? a->m_nSize : 0;
}

int32_t DigestCreate(DigestHandle* handle, uint32_t algorithm) {
    if (!handle) return CryptoStatus::NullPointer;
    const DigestAlgorithm* functions = FindAlgorithm(algorithm);
    if (!functions) return CryptoStatus::UnknownAlgorithm;
    auto* ctx = new (std::nothrow) DigestCtx {};
    if (!ctx) return CryptoStatus::NoMemory;
    if (int32_t rc = functions->initialise(&ctx->m_pState)) {
        delete ctx;
        return rc;
    }
    ctx->m_nAlgorithm = algorithm;
    ctx->m_pFunctions = functions;
    ctx->m_pSelf = ctx;
    if (!DigestHandleTable().Add(ctx)) {
        functions->release(ctx->m_pState);
        delete ctx;
        return CryptoStatus::NoMemory;
    }
    *handle = ToHandle<DigestHandle>(ctx, kDigestHandleBias);
    return CryptoStatus::Ok;
}

int32_t DigestUpdate(DigestHandle handle, const uint8_t* data, uint32_t length) {
    DigestCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!length) return CryptoStatus::Ok;
    if (!data) return CryptoStatus::NullPointer;
    ctx->m_pFunctions->update(ctx->m_pState, data, length);
    return CryptoStatus::Ok;
}

int32_t DigestFinal(DigestHandle handle, uint8_t* digest) {
    DigestCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (!digest) return CryptoStatus::NullPointer;
    ctx->m_pFunctions->final(ctx->m_pState, digest);
    return CryptoStatus::Ok;
}

int32_t DigestDestroy(DigestHandle handle) {
    DigestCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    DigestHandleTable().Remove(ctx);
    const int32_t rc = ctx->m_pFunctions->release(ctx->m_pState);
    SecureZero(ctx, sizeof *ctx);
    delete ctx;
    return rc;
}

}  // namespace corvane
