#include "phone/device_session.h"

#include <cstring>
#include <vector>

#include "crypto/rsa.h"
#include "crypto/session_key.h"
#include "device/device_map.h"
#include "device/device_hello.h"
#include "platform/text.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

constexpr uint32_t kRsaPublicKeyFormat = 1;

// A message of `payloadLength` bytes from the arena with its header; the payload is left zero.
uint8_t* NewMessage(ReplyArena& arena, uint16_t code, size_t payloadLength, uint32_t status = 0) {
    uint8_t* message = arena.Allocate(MsgHeader::kSize + payloadLength + 2);
    if (message) MsgHeader {code, static_cast<uint16_t>(payloadLength), status}.Encode(message);
    return message;
}

uint32_t Reply(ReplyArena& arena, uint16_t requestCode, const uint8_t* payload, size_t length, uint8_t** reply,
               size_t* replySize) {
    if (length > MsgHeader::kMaxPayload) return Result::NteFail;
    uint8_t* message = NewMessage(arena, MsgHeader::ReplyCode(requestCode), length);
    if (!message) return Result::NteNoMemory;
    if (length) std::memcpy(message + MsgHeader::kSize, payload, length);
    *reply = message;
    *replySize = MsgHeader::kSize + length;
    return 0;
}

void DestroyCipher(BleConnection& connection) {
    if (connection.m_hSessionCipher) CipherDestroy(connection.m_hSessionCipher);
    connection.m_hSessionCipher = nullptr;
    connection.m_nSecureState = SecureState::Plain;
}

}  // namespace

CDeviceSession::CDeviceSession(BthDeviceEnv env) : m_env(env) {}

uint32_t CDeviceSession::HandleDeviceRequest(BleConnection& connection, const uint8_t* request, size_t size,
                                             ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    *reply = nullptr;
    *replySize = 0;
    const auto header = MsgHeader::Decode(request, size);
    if (!header || !header->MatchesSize(size)) return Result::NteBadLen;
    const uint8_t* payload = request + MsgHeader::kSize;
    if (header->code == DeviceRequest::Hello || header->code == DeviceRequest::HelloContainerList) {
        return DeviceHello(connection, header->code, payload, header->length, arena, reply, replySize);
    }
    if (connection.m_nSecureState != SecureState::Keyed || !connection.m_hSessionCipher) return kNtePerm;

    // The plain request, in a buffer of its own with two zero bytes behind the payload.
    uint8_t* plain = NewMessage(arena, header->code, header->length, header->status);
    if (!plain) return Result::NteNoMemory;
    size_t plainLength = 0;
    if (header->length != 0) {
        switch (SessionDecrypt(connection.m_hSessionCipher, payload, header->length, plain + MsgHeader::kSize,
                               &plainLength)) {
        case SessionKeyStatus::Ok: break;
        case SessionKeyStatus::Fail: return Result::NteFail;
        case SessionKeyStatus::BadData: return Result::NteBadData;
        }
        WriteU16(plain + MsgHeader::kLengthOffset, static_cast<uint16_t>(plainLength));
        std::memset(plain + MsgHeader::kSize + plainLength, 0, header->length - plainLength);
    }

    uint8_t* answer = nullptr;
    size_t answerSize = 0;
    if (const uint32_t rc =
            Dispatch(connection, plain, MsgHeader::kSize + plainLength, arena, &answer, &answerSize)) {
        return rc;
    }
    auto answerHeader = MsgHeader::Decode(answer, answerSize);
    if (!answerHeader || !answerHeader->MatchesSize(answerSize)) return Result::NteFail;
    answerHeader->code = MsgHeader::ReplyCode(header->code);

    // The reply's payload, encrypted behind its clear header.
    uint8_t* sealed = arena.Allocate(MsgHeader::kSize + answerHeader->length + 2 * kSessionPaddingMax);
    if (!sealed) return Result::NteNoMemory;
    answerHeader->Encode(sealed);
    size_t sealedLength = 0;
    if (answerHeader->length != 0) {
        if (SessionEncrypt(connection.m_hSessionCipher, answer + MsgHeader::kSize, answerHeader->length,
                           sealed + MsgHeader::kSize, &sealedLength) != SessionKeyStatus::Ok ||
            sealedLength > MsgHeader::kMaxPayload) {
            return Result::NteFail;
        }
    }
    WriteU16(sealed + MsgHeader::kLengthOffset, static_cast<uint16_t>(sealedLength));
    *reply = sealed;
    *replySize = MsgHeader::kSize + sealedLength;
    return 0;
}

uint32_t CDeviceSession::DeviceHello(BleConnection& connection, uint16_t code, const uint8_t* payload, size_t length,
                                     ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    DeviceHelloRequest hello;
    if (const uint32_t rc = ParseDeviceHello(payload, length, hello)) return rc;

    // The phone's key is sized before anything is built from it: a modulus or exponent out of
    // bounds fails like a key too short to wrap, without any RSA operation.
    const SessionKeyStatus keySize = CheckPeerPublicKey(hello.key, hello.keyLength);
    if (keySize == SessionKeyStatus::BadData) return Result::NteBadData;
    if (keySize != SessionKeyStatus::Ok) {
        DestroyCipher(connection);
        return Result::NteFail;
    }
    RsaHandle peerKey = nullptr;
    uint32_t bits = 0;
    if (RsaImport(&peerKey, &bits, kRsaPublicKeyFormat, hello.key, hello.keyLength) != CryptoStatus::Ok) {
        return Result::NteBadData;
    }

    // A new hello re-keys: the old key is gone even when this one fails.
    DestroyCipher(connection);
    const uint32_t modulusBytes = (bits + 7) / 8;
    std::vector<uint8_t> wrapped(modulusBytes);
    CipherHandle cipher = nullptr;
    ISystem& system = *m_env.platform.system;
    const RandomSource random = [&system](uint8_t* buffer, size_t size) { return system.GenRandom(buffer, size); };
    const SessionKeyStatus wrap = modulusBytes < kMinWrappedKeySize
                                      ? SessionKeyStatus::Fail
                                      : WrapNewSessionKey(peerKey, modulusBytes, random, wrapped.data(), &cipher);
    RsaDestroy(peerKey);
    if (wrap != SessionKeyStatus::Ok) return Result::NteFail;

    const Configuration& config = m_env.config;
    const std::vector<uint8_t> body = BuildDeviceHelloReply(config.g_strHostGuid, config.g_strComputerName,
                                                            config.g_strDnsDomain, wrapped.data(), wrapped.size());
    const uint32_t rc = Reply(arena, code, body.data(), body.size(), reply, replySize);
    if (rc != 0) {
        CipherDestroy(cipher);
        return rc;
    }

    // A connection that changes its device ID leaves the device of the old one first.
    if (connection.m_hLock && connection.m_strDeviceId != hello.deviceId) {
        MutexGuard lock(connection.m_hLock);
        if (connection.m_pDevice) connection.m_pDevice->DetachConnection(connection);
        connection.m_pDevice = nullptr;
    }
    connection.m_strDeviceId = hello.deviceId;
    connection.m_strDeviceName = hello.name.substr(0, kDeviceNameChars - 1);
    connection.m_hLock = OpenOrCreateMutex(m_env.platform, connection.m_strDeviceId);
    connection.m_hSessionCipher = cipher;
    connection.m_nSecureState = SecureState::Keyed;
    BindDevice(connection, code);
    return 0;
}

void CDeviceSession::BindDevice(BleConnection& connection, uint16_t code) {
    DeviceMap& devices = m_env.workers.devices;
    // Every connection of this phone binds under the lock of the device ID, so the find or
    // creation, the rebind and the connection's device pointer are one step: two hellos of one
    // phone at once bind one after the other, and the later one takes the device.
    MutexGuard lock(connection.m_hLock);
    CDevTovrel* found = devices.Find(connection.m_strDeviceId);
    bool created = false;
    if (!found) {
        auto* fresh = new CDevBth(m_env, connection);
        fresh->AddRef();  // kept past FindOrAdd, which gives a losing device up at once
        found = devices.FindOrAdd(fresh, created);
        if (created) {
            fresh->StartWorker();
        } else {
            // Another creator entered its device first: this one never ran, and the
            // connection's handle, which it holds too, stays open for the device that won.
            fresh->AbandonConnection();
        }
        DeviceMap::Release(fresh);
    }
    CDevBth* bound = dynamic_cast<CDevBth*>(found);
    if (bound) {
        if (created) {
            bound->AttachCreator(connection);
        } else {
            bound->Rebind(connection, connection.m_strDeviceName);
        }
        // The phone's handle now belongs to the device: it closes it when it is closed, rebound
        // to another handle or destroyed, and the connection's teardown never closes it again.
        connection.m_bDeviceOwnsHandle = true;
    } else if (connection.m_pDevice) {
        // The ID belongs to a device that is no phone: this connection binds none.
        connection.m_pDevice->DetachConnection(connection);
        connection.m_pDevice = nullptr;
    }

    IBleLibrary* ble = m_env.ble;
    if (bound && bound->GetLinkKind() == DeviceKind::BluetoothPhone && bound->GetBleDevice() != 0 && ble &&
        ble->HasSignalStrengthEvents() && m_hooks.OnBleSignal) {
        uint64_t cookie = 0;
        ble->AddSignalStrengthEvent(bound->GetBleDevice(), &cookie, m_hooks.OnBleSignal);
        bound->SetSignalCookie(cookie);
    }
    if (bound && code == DeviceRequest::HelloContainerList) bound->SetContainerListMode();
    if (found) DeviceMap::Release(found);
}

uint32_t CDeviceSession::Dispatch(BleConnection& connection, const uint8_t* request, size_t size, ReplyArena& arena,
                                  uint8_t** reply, size_t* replySize) {
    const uint16_t code = ReadU16(request);
    const uint8_t* payload = request + MsgHeader::kSize;
    const size_t length = size - MsgHeader::kSize;
    switch (code) {
    case DeviceRequest::Logon:
    case DeviceRequest::Unlock:
    case DeviceRequest::Relogon: return RelayLogon(connection, request, size, arena, reply, replySize);
    case DeviceRequest::SessionTime:
    case DeviceRequest::SessionControl:
    case DeviceRequest::DelayedShutdown:
        if (!m_hooks.RemoteSessionOperation) return Result::NteNotSupported;
        return m_hooks.RemoteSessionOperation(connection, request, size, arena, reply, replySize);
    case DeviceRequest::SignalStatistics:
        return SignalStatistics(connection, payload, length, arena, reply, replySize);
    case DeviceRequest::SessionList: {
        if (length != 0) return Result::NteBadLen;
        if (!m_hooks.BuildSessionList) return Result::NteNotSupported;
        uint8_t* list = nullptr;
        size_t listSize = 0;
        if (const uint32_t rc = m_hooks.BuildSessionList(list, listSize, arena)) return rc;
        *reply = list;
        *replySize = listSize;
        return 0;
    }
    case DeviceRequest::ContainerList: return ContainerList(connection, request, size, arena, reply, replySize);
    case DeviceRequest::PhoneStatus: return PhoneStatus(connection, payload, length, arena, reply, replySize);
    default: return Result::NteNotSupported;
    }
}

uint32_t CDeviceSession::RelayLogon(BleConnection& connection, const uint8_t* request, size_t size,
                                    ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    if (!m_hooks.RelayLogonRequest) return Result::NteNotSupported;
    const uint16_t code = ReadU16(request);
    const uint32_t rc = m_hooks.RelayLogonRequest(connection.m_strDeviceId, request, size, arena, reply, replySize);
    if (rc != 0) return rc;
    if (*replySize < MsgHeader::kSize || !MsgHeader::Decode(*reply, *replySize)->MatchesSize(*replySize)) {
        return Result::NteFail;
    }
    WriteU16(*reply, MsgHeader::ReplyCode(code));
    return 0;
}

uint32_t CDeviceSession::SignalStatistics(BleConnection& connection, const uint8_t* payload, size_t length,
                                          ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    if (length != 4) return Result::NteBadLen;
    const uint32_t operation = ReadU32(payload);
    RssiStatistics stats;
    {
        MutexGuard lock(connection.m_hLock);
        CDevBth* device = connection.m_pDevice;
        if (!device) return kErrorDeviceNotConnected;
        if (operation == 1) {
            device->StartRssiStatistics();
        } else if (operation == 2) {
            device->StopRssiStatistics();
        } else if (operation != 3) {
            return Result::NteBadData;
        }
        stats = device->ReadRssiStatistics();
    }
    uint8_t body[8];
    WriteU16(body, stats.count);
    WriteU16(body + 2, static_cast<uint16_t>(stats.average));
    WriteU16(body + 4, static_cast<uint16_t>(stats.maximum));
    WriteU16(body + 6, static_cast<uint16_t>(stats.minimum));
    return Reply(arena, DeviceRequest::SignalStatistics, body, sizeof body, reply, replySize);
}

uint32_t CDeviceSession::ContainerList(BleConnection& connection, const uint8_t* request, size_t size,
                                       ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    {
        MutexGuard lock(connection.m_hLock);
        CDevBth* device = connection.m_pDevice;
        if (!device) return kErrorDeviceNotConnected;
        if (m_hooks.UpdateContainerList) {
            if (const uint32_t rc = m_hooks.UpdateContainerList(*device, request, size)) return rc;
        }
    }
    uint8_t* list = nullptr;
    const int32_t listSize = BuildDomainList(list, arena);
    if (listSize <= 0) return Result::NteNoMemory;
    return Reply(arena, DeviceRequest::ContainerList, list, static_cast<size_t>(listSize), reply, replySize);
}

uint32_t CDeviceSession::PhoneStatus(BleConnection& connection, const uint8_t* payload, size_t length,
                                     ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    if (length != 2) return Result::NteBadLen;
    {
        MutexGuard lock(connection.m_hLock);
        CDevBth* device = connection.m_pDevice;
        if (!device) return kErrorDeviceNotConnected;
        if (payload[1] != 0) device->SetSecondFlag(payload[1]);
        if (payload[0] != 0) {
            if (device->GetFirstFlag() != 0 && m_hooks.ResetCacheV1) m_hooks.ResetCacheV1(*device);
            device->SetFirstFlag(payload[0]);
        }
    }
    uint8_t* list = nullptr;
    const int32_t listSize = BuildDomainList(list, arena);
    if (listSize <= 0) return Result::NteNoMemory;
    std::u16string user;
    uint16_t state = 0;
    if (m_hooks.GetPublished) m_hooks.GetPublished(user, state);
    const std::string name = Utf16ToUtf8(user);
    std::vector<uint8_t> body(2 + name.size() + 1 + static_cast<size_t>(listSize), 0);
    WriteU16(body.data(), state);
    std::memcpy(body.data() + 2, name.data(), name.size());
    std::memcpy(body.data() + 2 + name.size() + 1, list, static_cast<size_t>(listSize));
    return Reply(arena, DeviceRequest::PhoneStatus, body.data(), body.size(), reply, replySize);
}

int32_t CDeviceSession::BuildDomainList(uint8_t*& out, ReplyArena& arena) {
    out = nullptr;
    std::string list = Utf16ToUtf8(m_env.config.g_strComputerName);
    list.push_back('\0');
    std::vector<DomainTrust> trusts;
    if (m_env.platform.sessions && m_env.platform.sessions->EnumerateDomainTrusts(trusts) == 0) {
        for (const DomainTrust& trust : trusts) {
            if (trust.DnsDomainName.empty()) continue;
            list += Utf16ToUtf8(trust.DnsDomainName);
            list.push_back('\0');
        }
    }
    if (list.size() > static_cast<size_t>(INT32_MAX)) return -1;
    uint8_t* buffer = arena.Allocate(list.size());
    if (!buffer) return -1;
    std::memcpy(buffer, list.data(), list.size());
    out = buffer;
    return static_cast<int32_t>(list.size());
}

void CDeviceSession::TeardownConnection(BleConnection* connection) {
    if (!connection) return;
    DestroyCipher(*connection);
    const MutexHandle lock = connection->m_hLock;
    {
        MutexGuard guard(lock);
        if (CDevBth* device = connection->m_pDevice) {
            device->DetachConnection(*connection);
            connection->m_pDevice = nullptr;
            device->CloseIfDevice(connection->m_hDevice);
        } else if (m_env.ble && connection->m_hDevice != 0 && !connection->m_bDeviceOwnsHandle) {
            // A handle a device has taken is closed by that device alone (on a rebind to another
            // handle, a close or its end): the library reuses handles, so a second close could
            // hit another phone.
            m_env.ble->CloseDevice(connection->m_hDevice);
        }
        delete connection;
    }
}

}  // namespace corvane
