#include "crypto/cipher_algorithm.h"

#include <new>

#include "crypto/aes.h"
#include "crypto/crypto_status.h"
#include "crypto/des.h"
#include "crypto/rc2.h"
#include "crypto/rc4.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

template <typename State>
int32_t Release(void* state) {
    auto* s = static_cast<State*>(state);
    SecureZero(s, sizeof(State));
    delete s;
    return CryptoStatus::Ok;
}

int32_t DesInitialise(void** state, const uint8_t* key, uint32_t keyLength) {
    auto* s = new (std::nothrow) DesState;
    if (!s) return CryptoStatus::NoMemory;
    // A key shorter than 8 bytes gives a context whose block operations all fail.
    DesSetKey(*s, key, keyLength);
    *state = s;
    return CryptoStatus::Ok;
}
int32_t DesEncrypt(const void* state, const uint8_t* in, uint8_t* out) {
    return DesEncryptBlock(*static_cast<const DesState*>(state), in, out) ? CryptoStatus::Ok : CryptoStatus::InvalidHandle;
}
int32_t DesDecrypt(const void* state, const uint8_t* in, uint8_t* out) {
    return DesDecryptBlock(*static_cast<const DesState*>(state), in, out) ? CryptoStatus::Ok : CryptoStatus::InvalidHandle;
}

int32_t DesEncryptChained(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks) {
    return DesEncryptCbc(*static_cast<const DesState*>(state), chain, in, out, blocks) ? CryptoStatus::Ok
                                                                                        : CryptoStatus::InvalidHandle;
}
int32_t DesDecryptChained(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks) {
    return DesDecryptCbc(*static_cast<const DesState*>(state), chain, in, out, blocks) ? CryptoStatus::Ok
                                                                                        : CryptoStatus::InvalidHandle;
}

int32_t AesInitialise(void** state, const uint8_t* key, uint32_t keyLength) {
    if (!key) return CryptoStatus::NullPointer;
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) return CryptoStatus::BadAesKeyLength;
    auto* s = new (std::nothrow) AesState;
    if (!s) return CryptoStatus::NoMemory;
    AesSetKey(*s, key, keyLength);
    *state = s;
    return CryptoStatus::Ok;
}
int32_t AesEncrypt(const void* state, const uint8_t* in, uint8_t* out) {
    AesEncryptBlock(*static_cast<const AesState*>(state), in, out);
    return CryptoStatus::Ok;
}
int32_t AesDecrypt(const void* state, const uint8_t* in, uint8_t* out) {
    AesDecryptBlock(*static_cast<const AesState*>(state), in, out);
    return CryptoStatus::Ok;
}

int32_t AesEncryptChained(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks) {
    AesEncryptCbc(*static_cast<const AesState*>(state), chain, in, out, blocks);
    return CryptoStatus::Ok;
}
int32_t AesDecryptChained(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks) {
    AesDecryptCbc(*static_cast<const AesState*>(state), chain, in, out, blocks);
    return CryptoStatus::Ok;
}

int32_t Rc2Initialise(void** state, const uint8_t* key, uint32_t keyLength) {
    if (keyLength == 0) return CryptoStatus::InvalidArguments;
    auto* s = new (std::nothrow) Rc2State;
    if (!s) return CryptoStatus::NoMemory;
    Rc2SetKey(*s, key, keyLength);
    *state = s;
    return CryptoStatus::Ok;
}
int32_t Rc2Encrypt(const void* state, const uint8_t* in, uint8_t* out) {
    Rc2EncryptBlock(*static_cast<const Rc2State*>(state), in, out);
    return CryptoStatus::Ok;
}
int32_t Rc2Decrypt(const void* state, const uint8_t* in, uint8_t* out) {
    Rc2DecryptBlock(*static_cast<const Rc2State*>(state), in, out);
    return CryptoStatus::Ok;
}

int32_t Rc4Initialise(void** state, const uint8_t* key, uint32_t keyLength) {
    if (keyLength == 0) return CryptoStatus::InvalidArguments;
    auto* s = new (std::nothrow) Rc4State;
    if (!s) return CryptoStatus::NoMemory;
    Rc4SetKey(*s, key, keyLength);
    *state = s;
    return CryptoStatus::Ok;
}
int32_t Rc4Stream(void* state, const uint8_t* in, uint8_t* out, size_t length) {
    Rc4Process(*static_cast<Rc4State*>(state), in, out, length);
    return CryptoStatus::Ok;
}

constexpr CipherAlgorithm kAlgorithms[] = {
    {CipherAlg::Des, 0, 8, DesInitialise, DesEncrypt, DesDecrypt, Release<DesState>, DesEncryptChained,
     DesDecryptChained, nullptr, nullptr},
    {CipherAlg::Aes, 0, 16, AesInitialise, AesEncrypt, AesDecrypt, Release<AesState>, AesEncryptChained,
     AesDecryptChained, nullptr, nullptr},
    {CipherAlg::Rc2, 0, 8, Rc2Initialise, Rc2Encrypt, Rc2Decrypt, Release<Rc2State>, nullptr, nullptr, nullptr,
     nullptr},
    {CipherAlg::Rc4, 1, 0, Rc4Initialise, nullptr, nullptr, Release<Rc4State>, nullptr, nullptr, Rc4Stream,
     Rc4Stream},
};

}  // namespace

const CipherAlgorithm* FindCipherAlgorithm(uint32_t id) {
    for (const auto& algorithm : kAlgorithms) {
        if (algorithm.m_nId == id) return &algorithm;
    }
    return nullptr;
}

}  // namespace corvane
