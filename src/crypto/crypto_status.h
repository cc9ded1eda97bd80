// Status codes, algorithm identifiers and key formats of the crypto library. Every operation
// returns a signed 32-bit status: 0 for success, one of the negative codes below otherwise.
#pragma once

#include <cstdint>

namespace corvane {

namespace CryptoStatus {
constexpr int32_t Ok = 0;
constexpr int32_t InternalFailure = -1;       // allocation failure inside the CRT private operation
constexpr int32_t NoMemory = -102;
constexpr int32_t InvalidHandle = -104;
constexpr int32_t NullPointer = -105;
constexpr int32_t BufferTooSmall = -106;
constexpr int32_t InvalidArguments = -108;
constexpr int32_t UnknownAlgorithm = -201;
constexpr int32_t NotWholeBlocks = -203;
constexpr int32_t BadAesKeyLength = -204;
constexpr int32_t DirectionChanged = -205;
constexpr int32_t KeyGenerationFailed = -206;
constexpr int32_t UnknownKeyFormat = -207;
constexpr int32_t KeyPartMissing = -208;
constexpr int32_t MalformedDer = -209;
constexpr int32_t RsaBadLength = -210;
constexpr int32_t RsaPublicFailed = -211;
constexpr int32_t RsaPrivateFailed = -212;
constexpr int32_t RsaInputTooLarge = -213;
constexpr int32_t BadPadding = -215;
}  // namespace CryptoStatus

// Cipher algorithm identifiers.
namespace CipherAlg {
constexpr uint32_t Des = 1;  // single DES, two-key or three-key triple DES (EDE) by key length
constexpr uint32_t Aes = 3;
constexpr uint32_t Rc2 = 4;
constexpr uint32_t Rc4 = 33;
}  // namespace CipherAlg

// Digest algorithm identifiers.
namespace DigestAlg {
constexpr uint32_t Sha1 = 97;
constexpr uint32_t Md2 = 98;
constexpr uint32_t Md5 = 99;
constexpr uint32_t Sha224 = 100;
constexpr uint32_t Sha256 = 101;
constexpr uint32_t Sha384 = 102;
constexpr uint32_t Sha512 = 103;
}  // namespace DigestAlg

// The mode word of a cipher context: chaining mode in the low half, padding in the high half.
namespace CipherMode {
constexpr uint32_t EcbNoPadding = 0x00000001;
constexpr uint32_t CbcPkcs7 = 0x00010002;
constexpr uint32_t ChainingMask = 0x0000FFFF;
constexpr uint32_t Ecb = 1;
constexpr uint32_t Cbc = 2;
}  // namespace CipherMode

// RSA algorithm identifier, DER key formats and single components for export.
constexpr uint32_t kRsaAlgorithm = 65;
namespace RsaFormat {
constexpr uint32_t PublicKey = 1;   // RSAPublicKey: SEQUENCE { n, e }
constexpr uint32_t PrivateKey = 2;  // RSAPrivateKey: SEQUENCE { version, n, e, d, p, q, dP, dQ, qInv }
constexpr uint32_t Modulus = 129;
constexpr uint32_t PublicExponent = 130;
constexpr uint32_t Prime1 = 131;
constexpr uint32_t Prime2 = 132;
}  // namespace RsaFormat

}  // namespace corvane
