#include "config/host_key.h"

#include <vector>

#include "crypto/cipher.h"
#include "crypto/rsa.h"
#include "crypto/secure_zero.h"
#include "token/private_key_blob.h"

namespace corvane {

const uint8_t kRsaKeyValueCipherKey[16] = {0x5C, 0x3A, 0x91, 0x0E, 0x7D, 0xB2, 0x44, 0xE8,
                                           0x1F, 0xC6, 0x63, 0x08, 0xA9, 0x2D, 0xF5, 0x71};

namespace {

// A byte buffer wiped when it goes out of scope: it holds the host key in clear.
class CSecretBytes {
public:
    explicit CSecretBytes(size_t size) : m_bytes(size) {}
    ~CSecretBytes() { SecureZero(m_bytes.data(), m_bytes.size()); }
    CSecretBytes(const CSecretBytes&) = delete;
    CSecretBytes& operator=(const CSecretBytes&) = delete;
    uint8_t* Data() { return m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};

uint32_t StatusCode(int32_t status) { return static_cast<uint32_t>(status); }

// Runs one whole message through the cipher (update then final). length receives the output size.
int32_t RunMessage(CipherHandle cipher, const uint8_t* in, size_t inLength, bool encrypt, uint8_t* out,
                   size_t capacity, size_t& length) {
    uint32_t produced = static_cast<uint32_t>(capacity);
    if (int32_t rc = CipherUpdate(cipher, in, static_cast<uint32_t>(inLength), out, &produced, encrypt)) {
        CipherRestart(cipher);
        return rc;
    }
    uint32_t last = static_cast<uint32_t>(capacity - produced);
    const int32_t rc = CipherFinal(cipher, out + produced, &last);
    length = rc == 0 ? produced + last : 0;
    return rc;
}

// Places the deciphered key pair in the container named by the host GUID text. Every failure
// here is ignored: the device code falls back to the service's own engine.
void ImportIntoContainer(Platform& platform, const Configuration& config, const uint8_t* der, size_t derLength) {
    IKeyContainers* containers = platform.keyContainers;
    if (!containers) return;
    ChProv prov(containers);
    uint32_t rc = containers->AcquireContext(*prov.Out(), config.g_strHostGuid, kMsStrongProvider, kProvRsaFull, 0);
    if (rc) rc = containers->AcquireContext(*prov.Out(), config.g_strHostGuid, kMsStrongProvider, kProvRsaFull, kCryptNewKeyset);
    if (rc) {
        platform.diagnostics->Writef("host key container cannot be opened (error 0x%08X); the service's own engine holds the key", rc);
        return;
    }
    CSecretBytes blob(kMaxHostKeyBlobBytes);
    uint32_t blobLength = static_cast<uint32_t>(blob.Size());
    rc = RsaDerToPrivateKeyBlob(blob.Data(), &blobLength, der, static_cast<uint32_t>(derLength));
    if (rc) {
        platform.diagnostics->Writef("host key does not convert to a private-key blob (error 0x%08X)", rc);
        return;
    }
    ChKey key(containers);
    rc = containers->ImportKey(prov.Get(), blob.Data(), blobLength, 0, *key.Out());
    if (rc) platform.diagnostics->Writef("host key import into its container failed (error 0x%08X)", rc);
}

// Reads and deciphers RSAKey into der; false when the value is missing or does not decipher.
bool ReadStoredKey(Platform& platform, CipherHandle cipher, CSecretBytes& der, size_t& derLength) {
    RegValue value;
    const uint32_t rc = platform.registry->QueryValue(kTovrelKey, kRsaKeyValue, value, kMaxRsaKeyValueBytes);
    if (rc) {
        if (rc != WinError::FileNotFound) {
            platform.diagnostics->Writef("RSAKey unreadable (error %u); %s, and a new host key replaces it", rc,
                                         KeepBadValue(*platform.registry, kRsaKeyValue).c_str());
        }
        return false;
    }
    const int32_t status = RunMessage(cipher, value.data.data(), value.data.size(), false, der.Data(), der.Size(), derLength);
    SecureZero(value.data.data(), value.data.size());
    if (status) {
        platform.diagnostics->Writef("RSAKey does not decipher (status %d); %s, and a new host key replaces it", status,
                                     KeepBadValue(*platform.registry, kRsaKeyValue).c_str());
        return false;
    }
    return true;
}

uint32_t CreateAndStoreKey(Platform& platform, CipherHandle cipher, HostKey& hostKey) {
    hostKey.g_nHostKeyBits = kHostKeyBits;
    hostKey.g_hostKey.Release();
    ISystem* system = platform.system;
    const RandomSource random = [system](uint8_t* buffer, size_t size) { return system->GenRandom(buffer, size); };
    RsaHandle generated = nullptr;
    if (int32_t rc = RsaGenerate(&generated, kHostKeyBits, kHostKeyExponent, random)) {
        platform.diagnostics->Writef("host key generation failed (status %d)", rc);
        return StatusCode(rc);
    }
    hostKey.g_hostKey.Attach(generated);

    CSecretBytes der(kMaxRsaKeyValueBytes);
    uint32_t derLength = static_cast<uint32_t>(der.Size());
    if (int32_t rc = RsaExport(generated, RsaFormat::PrivateKey, der.Data(), &derLength)) return StatusCode(rc);
    if (int32_t rc = CipherReset(cipher)) return StatusCode(rc);
    std::vector<uint8_t> enciphered(derLength + 16);
    size_t length = 0;
    if (int32_t rc = RunMessage(cipher, der.Data(), derLength, true, enciphered.data(), enciphered.size(), length)) {
        return StatusCode(rc);
    }
    enciphered.resize(length);
    if (uint32_t rc = RegSetBinary(*platform.registry, kTovrelKey, kRsaKeyValue, enciphered)) {
        platform.diagnostics->Writef("RSAKey cannot be stored (error %u)", rc);
        return rc;
    }
    return 0;
}

}  // namespace

uint32_t LoadHostKey(Platform& platform, const Configuration& config, HostKey& hostKey) {
    CipherHandle cipherHandle = nullptr;
    if (int32_t rc = CipherCreate(&cipherHandle, CipherAlg::Des, kRsaKeyValueCipherKey, sizeof kRsaKeyValueCipherKey)) {
        return StatusCode(rc);
    }
    ChSymmCtx cipher(cipherHandle, true);
    if (int32_t rc = CipherReset(cipherHandle)) return StatusCode(rc);
    if (uint32_t rc = platform.registry->CreateKey(kTovrelKey)) {
        platform.diagnostics->Writef("registry key SOFTWARE\\Tovrel cannot be opened (error %u); no host key", rc);
        return rc;
    }

    CSecretBytes der(kMaxRsaKeyValueBytes + 16);
    size_t derLength = 0;
    if (ReadStoredKey(platform, cipherHandle, der, derLength)) {
        RsaHandle imported = nullptr;
        uint32_t bits = 0;
        const int32_t rc = RsaImport(&imported, &bits, RsaFormat::PrivateKey, der.Data(), static_cast<uint32_t>(derLength));
        if (rc == 0) {
            hostKey.g_hostKey.Attach(imported);
            hostKey.g_nHostKeyBits = static_cast<int32_t>(bits);
        }
        ImportIntoContainer(platform, config, der.Data(), derLength);
        if (rc == 0) return 0;
        platform.diagnostics->Writef("RSAKey holds no usable key pair (status %d); %s, and a new host key replaces it", rc,
                                     KeepBadValue(*platform.registry, kRsaKeyValue).c_str());
    }
    return CreateAndStoreKey(platform, cipherHandle, hostKey);
}

int32_t HostKeyPrivate(const HostKey& hostKey, ISystem& system, const uint8_t* in, uint32_t length, uint8_t* out) {
    const RandomSource random = [&system](uint8_t* buffer, size_t size) { return system.GenRandom(buffer, size); };
    return RsaPrivateBlinded(hostKey.g_hostKey.Get(), in, length, out, random, hostKey.m_blinding);
}

}  // namespace corvane
