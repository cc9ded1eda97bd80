#include "crypto/cipher.h"

#include <cstring>
#include <new>

#include "crypto/cipher_algorithm.h"
#include "crypto/handle_table.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

constexpr uint32_t kDirectionNone = 0;
constexpr uint32_t kDirectionEncrypt = 1;
constexpr uint32_t kDirectionDecrypt = 2;

struct CipherCtx {
    void* m_pState;                      // owned, algorithm-specific
    uint32_t m_nAlgorithm;
    uint32_t m_nStream;                  // 1 for RC4
    const CipherAlgorithm* m_pFunctions;
    uint32_t m_nMode;
    uint32_t m_nDirection;
    uint8_t m_nBlockSize;
    uint8_t m_nPending;
    uint8_t m_pending[16];
    uint8_t m_chain[16];
    uint8_t m_iv[16];
    CipherCtx* m_pSelf;
};

CipherCtx* Lookup(CipherHandle handle) { return FromHandle<CipherCtx>(handle, kCipherHandleBias, CipherHandleTable()); }

bool HasPadding(const CipherCtx& ctx) { return (ctx.m_nMode >> 16) != 0; }
bool IsCbc(const CipherCtx& ctx) { return (ctx.m_nMode & CipherMode::ChainingMask) == CipherMode::Cbc; }

inline void XorInto(uint8_t* dst, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; ++i) dst[i] ^= src[i];
}

// Runs whole blocks through the context's chaining mode. in and out may be the same buffer.
int32_t ProcessBlocks(CipherCtx& ctx, const uint8_t* in, uint8_t* out, size_t blocks, bool encrypt) {
    const CipherAlgorithm& f = *ctx.m_pFunctions;
    const size_t b = ctx.m_nBlockSize;
    if (!IsCbc(ctx)) {
        auto* op = encrypt ? f.encryptBlock : f.decryptBlock;
        for (size_t i = 0; i < blocks; ++i, in += b, out += b) {
            if (int32_t rc = op(ctx.m_pState, in, out)) return rc;
        }
        return CryptoStatus::Ok;
    }
    if (auto* bulk = encrypt ? f.encryptCbc : f.decryptCbc) return bulk(ctx.m_pState, ctx.m_chain, in, out, blocks);
    if (encrypt) {
        // chaining block ^= input; chaining block = E(chaining block); output = chaining block.
        for (size_t i = 0; i < blocks; ++i, in += b, out += b) {
            XorInto(ctx.m_chain, in, b);
            if (int32_t rc = f.encryptBlock(ctx.m_pState, ctx.m_chain, ctx.m_chain)) return rc;
            std::memcpy(out, ctx.m_chain, b);
        }
        return CryptoStatus::Ok;
    }
    // output = D(input) ^ chaining block; chaining block = input.
    uint8_t cipherBlock[16];
    uint8_t plainBlock[16];
    for (size_t i = 0; i < blocks; ++i, in += b, out += b) {
        std::memcpy(cipherBlock, in, b);
        if (int32_t rc = f.decryptBlock(ctx.m_pState, cipherBlock, plainBlock)) return rc;
        XorInto(plainBlock, ctx.m_chain, b);
        std::memcpy(out, plainBlock, b);
        std::memcpy(ctx.m_chain, cipherBlock, b);
    }
    SecureZero(plainBlock, sizeof plainBlock);
    return CryptoStatus::Ok;
}

void Restart(CipherCtx& ctx) {
    if (ctx.m_nStream) return;
    std::memcpy(ctx.m_chain, ctx.m_iv, sizeof ctx.m_chain);
    SecureZero(ctx.m_pending, sizeof ctx.m_pending);
    ctx.m_nPending = 0;
    ctx.m_nDirection = kDirectionNone;
}

bool Overlaps(const uint8_t* out, size_t outAhead, const uint8_t* in, size_t inLength) {
    const auto o = reinterpret_cast<uintptr_t>(out);
    const auto i = reinterpret_cast<uintptr_t>(in);
    return o + outAhead > i && o < i + inLength;
}

int32_t StreamUpdate(CipherCtx& ctx, const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t* outLength,
                     bool encrypt) {
    if (outLength && *outLength < inLength) return CryptoStatus::BufferTooSmall;
    const CipherAlgorithm& f = *ctx.m_pFunctions;
    auto* op = encrypt ? f.encryptStream : f.decryptStream;
    int32_t rc = CryptoStatus::Ok;
    if (inLength) {
        // The keystream runs forwards, so only an output ahead of the input inside it needs a copy.
        if (out != in && Overlaps(out, 0, in, inLength) && out > in) {
            auto* temp = new (std::nothrow) uint8_t[inLength];
            if (!temp) return CryptoStatus::NoMemory;
            rc = op(ctx.m_pState, in, temp, inLength);
            std::memcpy(out, temp, inLength);
            SecureZero(temp, inLength);
            delete[] temp;
        } else {
            rc = op(ctx.m_pState, in, out, inLength);
        }
    }
    if (rc == CryptoStatus::Ok && outLength) *outLength = inLength;
    return rc;
}

}  // namespace

int32_t CipherCreate(CipherHandle* handle, uint32_t algorithm, const uint8_t* key, uint32_t keyLength) {
    if (!handle) return CryptoStatus::NullPointer;
    const CipherAlgorithm* functions = FindCipherAlgorithm(algorithm);
    if (!functions) return CryptoStatus::UnknownAlgorithm;
    if (!key && keyLength) return CryptoStatus::NullPointer;
    auto* ctx = new (std::nothrow) CipherCtx {};
    if (!ctx) return CryptoStatus::NoMemory;
    if (int32_t rc = functions->initialise(&ctx->m_pState, key, keyLength)) {
        delete ctx;
        return rc;
    }
    ctx->m_nAlgorithm = algorithm;
    ctx->m_nStream = functions->m_nStream;
    ctx->m_pFunctions = functions;
    ctx->m_nMode = CipherMode::EcbNoPadding;
    ctx->m_nDirection = kDirectionNone;
    ctx->m_nBlockSize = functions->m_nBlockSize;
    ctx->m_pSelf = ctx;
    if (!CipherHandleTable().Add(ctx)) {
        functions->release(ctx->m_pState);
        delete ctx;
        return CryptoStatus::NoMemory;
    }
    *handle = ToHandle<CipherHandle>(ctx, kCipherHandleBias);
    return CryptoStatus::Ok;
}

int32_t CipherReset(CipherHandle handle) {
    CipherCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    if (ctx->m_nStream) return CryptoStatus::Ok;
    ctx->m_nMode = CipherMode::CbcPkcs7;
    std::memset(ctx->m_iv, 0, sizeof ctx->m_iv);
    std::memset(ctx->m_chain, 0, sizeof ctx->m_chain);
    SecureZero(ctx->m_pending, sizeof ctx->m_pending);
    ctx->m_nPending = 0;
    return CryptoStatus::Ok;
}

int32_t CipherRestart(CipherHandle handle) {
    CipherCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    Restart(*ctx);
    return CryptoStatus::Ok;
}

int32_t CipherUpdate(CipherHandle handle, const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t* outLength,
                     bool encrypt) {
    if (!out && !outLength) return CryptoStatus::InvalidArguments;
    if (!in && inLength && out) return CryptoStatus::InvalidArguments;
    CipherCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;

    const uint32_t direction = encrypt ? kDirectionEncrypt : kDirectionDecrypt;
    if (ctx->m_nDirection == kDirectionNone) {
        ctx->m_nDirection = direction;
    } else if (ctx->m_nDirection != direction) {
        return CryptoStatus::DirectionChanged;
    }

    const uint32_t b = ctx->m_nBlockSize;
    const uint32_t p = ctx->m_nPending;
    if (!out) {  // size query: what a real call could write now
        *outLength = ctx->m_nStream ? inLength : static_cast<uint32_t>((uint64_t {p} + inLength) / b * b);
        return CryptoStatus::Ok;
    }
    if (ctx->m_nStream) return StreamUpdate(*ctx, in, inLength, out, outLength, encrypt);

    // Hold-back: a partial block stays pending; when decrypting with padding a last whole block
    // stays pending too, for CipherFinal to check and strip the padding.
    const bool holdLastBlock = !encrypt && HasPadding(*ctx);
    const uint64_t total = uint64_t {p} + inLength;
    if (holdLastBlock ? total <= b : total < b) {
        if (inLength) std::memcpy(ctx->m_pending + p, in, inLength);
        ctx->m_nPending = static_cast<uint8_t>(total);
        if (outLength) *outLength = 0;
        return CryptoStatus::Ok;
    }

    // What this call produces, worked out before anything changes so that a refusal leaves the
    // context as it was.
    const uint32_t fill = p ? b - p : 0;
    const uint64_t rest = inLength - fill;
    const uint64_t blocks = (holdLastBlock ? rest - 1 : rest) / b;
    const uint64_t produced = (p ? b : 0) + blocks * b;
    if (outLength) {
        if (p && *outLength < b) return CryptoStatus::BufferTooSmall;
        if (*outLength < produced) {
            *outLength = static_cast<uint32_t>(produced);
            return CryptoStatus::BufferTooSmall;
        }
    }

    // Output that would overwrite input not yet read goes through a temporary buffer.
    uint8_t* temp = nullptr;
    uint8_t* target = out;
    if (Overlaps(out, p, in, inLength)) {
        temp = new (std::nothrow) uint8_t[b + inLength];
        if (!temp) return CryptoStatus::NoMemory;
        target = temp;
    }

    int32_t rc = CryptoStatus::Ok;
    uint8_t* cursor = target;
    const uint8_t* src = in;
    if (p) {
        std::memcpy(ctx->m_pending + p, src, fill);
        rc = ProcessBlocks(*ctx, ctx->m_pending, cursor, 1, encrypt);
        src += fill;
        cursor += b;
    }
    if (rc == CryptoStatus::Ok && blocks) {
        rc = ProcessBlocks(*ctx, src, cursor, static_cast<size_t>(blocks), encrypt);
        src += blocks * b;
    }
    if (rc == CryptoStatus::Ok) {
        const uint32_t left = static_cast<uint32_t>(rest - blocks * b);
        std::memcpy(ctx->m_pending, src, left);
        ctx->m_nPending = static_cast<uint8_t>(left);
        if (outLength) *outLength = static_cast<uint32_t>(produced);
    }
    if (temp) {
        if (rc == CryptoStatus::Ok) std::memcpy(out, temp, static_cast<size_t>(produced));
        SecureZero(temp, b + inLength);
        delete[] temp;
    }
    return rc;
}

int32_t CipherFinal(CipherHandle handle, uint8_t* out, uint32_t* outLength) {
    if (!out && !outLength) return CryptoStatus::InvalidArguments;
    CipherCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    const uint32_t b = ctx->m_nBlockSize;
    if (!out) {
        const bool nothing = ctx->m_nStream || (ctx->m_nDirection == kDirectionEncrypt && !HasPadding(*ctx));
        *outLength = nothing ? 0 : b;
        return CryptoStatus::Ok;
    }
    if (ctx->m_nStream) {
        if (outLength) *outLength = 0;
        return CryptoStatus::Ok;
    }

    int32_t rc = CryptoStatus::Ok;
    const uint32_t p = ctx->m_nPending;
    if (!HasPadding(*ctx)) {
        rc = p ? CryptoStatus::NotWholeBlocks : CryptoStatus::Ok;
        if (outLength) *outLength = 0;
    } else if (ctx->m_nDirection == kDirectionEncrypt) {
        if (outLength && *outLength < b) {
            rc = CryptoStatus::BufferTooSmall;
        } else {
            const uint8_t k = static_cast<uint8_t>(b - p);
            std::memset(ctx->m_pending + p, k, k);
            rc = ProcessBlocks(*ctx, ctx->m_pending, out, 1, true);
            if (rc == CryptoStatus::Ok && outLength) *outLength = b;
        }
    } else if (p != b) {
        // Decrypting (or nothing fed at all): the last block must be complete.
        rc = CryptoStatus::NotWholeBlocks;
    } else {
        uint8_t work[16];
        rc = ProcessBlocks(*ctx, ctx->m_pending, work, 1, false);
        if (rc == CryptoStatus::Ok) {
            const uint32_t k = work[b - 1];
            bool good = k >= 1 && k <= b;
            for (uint32_t i = 0; good && i < k; ++i) good = work[b - 1 - i] == k;
            if (good) {
                if (outLength && *outLength < b - k) {
                    *outLength = b - k;
                    rc = CryptoStatus::BufferTooSmall;
                } else {
                    std::memcpy(out, work, b - k);
                    if (outLength) *outLength = b - k;
                }
            } else {
                // Bad padding: the whole raw block is handed out when it fits.
                const bool fits = !outLength || *outLength >= b;
                if (outLength) *outLength = b;
                if (fits) std::memcpy(out, work, b);
                rc = CryptoStatus::BadPadding;
            }
        }
        SecureZero(work, sizeof work);
    }
    Restart(*ctx);
    return rc;
}

int32_t CipherDestroy(CipherHandle handle) {
    CipherCtx* ctx = Lookup(handle);
    if (!ctx) return CryptoStatus::InvalidHandle;
    CipherHandleTable().Remove(ctx);
    const int32_t rc = ctx->m_pFunctions->release(ctx->m_pState);
    SecureZero(ctx, sizeof *ctx);
    delete ctx;
    return rc;
}

}  // namespace corvane
