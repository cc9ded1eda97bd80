#include "device/cdev_bth.h"

#include <algorithm>
#include <cstring>

#include "crypto/rsa.h"
#include "crypto/secure_zero.h"
#include "crypto/session_key.h"
#include "device/ble_framing.h"
#include "device/device_hello.h"
#include "device/device_map.h"
#include "platform/text.h"
#include "token/handle_wrappers.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

constexpr uint32_t kBusyPollMilliseconds = 10;
constexpr uint32_t kRsaPublicKeyFormat = 1;

// The device whose Transmit runs on this thread, if any: a release of its BLE handle that has to
// run on this very thread must not wait for that Transmit, which cannot end before it.
thread_local const void* t_pTransmitting = nullptr;

// Transmit's share of the busy count, given back however Transmit ends.
class BusyScope {
public:
    BusyScope(std::atomic<int32_t>& busy, const void* device) : m_busy(busy), m_pOuter(t_pTransmitting) {
        m_busy.fetch_add(1);
        t_pTransmitting = device;
    }
    ~BusyScope() {
        t_pTransmitting = m_pOuter;
        m_busy.fetch_sub(1);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    std::atomic<int32_t>& m_busy;
    const void* m_pOuter;
};

// Bytes that held key material, wiped when they go.
class WipedBytes {
public:
    explicit WipedBytes(std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    ~WipedBytes() { SecureZero(m_bytes.data(), m_bytes.size()); }
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;

private:
    std::vector<uint8_t>& m_bytes;
};

uint32_t SessionKeyResult(SessionKeyStatus status) {
    switch (status) {
    case SessionKeyStatus::Ok: return 0;
    case SessionKeyStatus::BadData: return Result::NteBadData;
    case SessionKeyStatus::Fail: break;
    }
    return Result::NteFail;
}

// A loss tick of 0 means "not lost", so a loss at tick 0 is marked a millisecond earlier: never
// later, or the time since the loss would wrap round and every delay count as passed at once.
uint32_t NonZeroTick(uint32_t now) { return now != 0 ? now : 0xFFFFFFFFu; }

std::u16string LinkMutexName(std::u16string_view id) {
    return Utf8ToUtf16(FormatUtf8(kMutexBthDevicePattern, Utf16ToUtf8(id).c_str()));
}

}  // namespace

CDevBth::CDevBth(BthDeviceEnv env, BleConnection& connection)
    : CDevTovrel(*env.platform.clock, connection.m_strDeviceId, connection.m_strDeviceName,
                 DeviceKind::BluetoothPhone),
      m_env(env),
      m_tokenCache(*env.platform.clock, env.upnReader) {
    m_nLinkKind = connection.m_nKind;
    m_hBleDevice = connection.m_hDevice;
    m_pConnection = &connection;
    const uint32_t now = m_clock.GetTickCount();
    m_dwLastTransmitTick = now;
    m_dwLastActivityTick = now;
    m_dwLastCheckTick = now;
    m_bPresent = 1;
    m_hConnectionLock = OpenOrCreateMutex(m_env.platform, m_strId);
    const std::u16string linkName = LinkMutexName(m_strId);
    m_hLinkMutex = OpenOrCreateMutex(m_env.platform, linkName);
    m_hContentMutex = OpenOrCreateMutex(m_env.platform, linkName + u"_Content");
}

CDevBth::~CDevBth() {
    Close();
    {
        MutexGuard lock(m_hConnectionLock);
        if (m_pConnection && m_pConnection->m_pDevice == this) m_pConnection->m_pDevice = nullptr;
        m_pConnection = nullptr;
    }
    // A closing thread may still be giving the handle back. With the last reference gone no
    // transmission can be in progress, so only closing threads count here, and each ends on its
    // own: waiting for them without a time limit never frees the device under one of them.
    while (m_nBusy.load() > 0) m_clock.Sleep(kBusyPollMilliseconds);
    DiscardSession();
}

void CDevBth::Rebind(BleConnection& connection, std::u16string_view name) {
    // Every connection of this phone shares the lock of the device ID. It is held for the whole
    // rebind, so two hellos of the phone rebind one after the other, and the device's connection
    // and that connection's device pointer change together: a connection never keeps a device
    // that another connection has taken since.
    MutexGuard lock(m_hConnectionLock);
    if (m_pConnection && m_pConnection != &connection) m_pConnection->m_pDevice = nullptr;
    m_pConnection = &connection;
    connection.m_pDevice = this;
    {
        // The phone list reads the name under the map mutex.
        MutexGuard map(m_env.config.m_hDevTovrelMutex);
        SetName(name);
    }
    {
        // The worker's link check runs under the same mutex, so it never meets the moment between
        // the old link's handle and the new one and takes it for a loss.
        MutexGuard link(m_hLinkMutex);
        if (connection.m_hDevice != m_hBleDevice.load()) ReleaseBleDevice();
        m_nLinkKind = connection.m_nKind;
        m_hBleDevice = connection.m_hDevice;
        m_bFlag1 = 0;
        m_bFlag2 = 0;
        m_bPresent = 1;
        m_bClosed = 0;
        DiscardSession();
        m_dwLossTick = 0;
        ClearAwayMarks();
    }
    // The token caches start afresh with the new connection.
    m_tokenCache.ResetOnRebind();
    StopRssiStatistics();
    {
        std::lock_guard<std::mutex> lock(m_rssiMutex);
        m_nStatsCount = 0;
        m_nStatsMax = m_nStatsMin = 0;
        m_nStatsSum = 0;
    }
    m_wake.Wake();
}

void CDevBth::AttachCreator(BleConnection& connection) {
    MutexGuard lock(m_hConnectionLock);
    if (m_pConnection == &connection) connection.m_pDevice = this;
}

void CDevBth::AbandonConnection() {
    MutexGuard lock(m_hConnectionLock);
    m_pConnection = nullptr;
    m_hBleDevice = 0;
}

uint32_t CDevBth::CloseIfDevice(uint64_t handle) {
    const uint64_t own = m_hBleDevice.load();
    if (own == 0 || own != handle) return kNteInvalidHandle;
    Close();
    return 0;
}

uint32_t CDevBth::Transmit(const uint8_t* request, size_t requestSize, uint8_t** reply, size_t* replySize,
                          ReplyArena& arena) {
    *reply = nullptr;
    *replySize = 0;
    BusyScope busy(m_nBusy, this);
    const auto header = MsgHeader::Decode(request, requestSize);
    if (!header || !header->MatchesSize(requestSize)) return Result::NteBadLen;
    MutexGuard link(m_hLinkMutex);
    if (const uint32_t rc = EnsureSecureSession()) return rc;
    m_dwLastTransmitTick = m_clock.GetTickCount();

    const uint32_t cached = m_tokenCache.AnswerFromCache(request, requestSize, arena, reply, replySize);
    if (cached != PhoneTokenStatus::Forward) {
        if (cached != 0) {
            *reply = nullptr;
            *replySize = 0;
        }
        return cached;
    }
    if (const uint32_t rc = Forward(request, requestSize, arena, reply, replySize)) {
        // The phone may have made a change the request asked for even though no reply came back.
        m_tokenCache.ForgetUnansweredChange(request, requestSize);
        return rc;
    }
    m_tokenCache.UpdateCache(request, requestSize, *reply, *replySize);
    return 0;
}

uint32_t CDevBth::Forward(const uint8_t* request, size_t requestSize, ReplyArena& arena, uint8_t** reply,
                          size_t* replySize) {
    const MsgHeader header = *MsgHeader::Decode(request, requestSize);
    // The request with its payload encrypted: PKCS#7 adds 1 to 8 bytes, and the length field
    // must still hold the result.
    ReplyArena scratch;
    uint8_t* sealed = scratch.Allocate(MsgHeader::kSize + header.length + kSessionPaddingMax);
    if (!sealed) return Result::NteNoMemory;
    size_t sealedLength = 0;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        // Closed meanwhile: the key is gone with the link.
        if (m_nSecureState != SecureState::Keyed || !m_hSessionCipher) return kBthNotConnected;
        if (header.length != 0 &&
            SessionEncrypt(m_hSessionCipher, request + MsgHeader::kSize, header.length, sealed + MsgHeader::kSize,
                           &sealedLength) != SessionKeyStatus::Ok) {
            return Result::NteFail;
        }
    }
    if (sealedLength > MsgHeader::kMaxPayload) return Result::NteBadLen;
    MsgHeader {header.code, static_cast<uint16_t>(sealedLength), header.status}.Encode(sealed);

    const uint32_t timeout = header.code == kBthGenerateKey ? kBthKeyGenerationReplyMilliseconds : kBthReplyMilliseconds;
    uint8_t* answer = nullptr;
    size_t answerSize = 0;
    if (const uint32_t rc = Exchange(sealed, timeout, scratch, &answer, &answerSize)) return rc;

    // The plain reply is never longer than the ciphertext, so its buffer (with the two zero bytes
    // every received message carries) is sized by what arrived.
    MsgHeader answerHeader = *MsgHeader::Decode(answer, answerSize);
    uint8_t* plain = arena.Allocate(answerSize + 2);
    if (!plain) return Result::NteNoMemory;
    size_t plainLength = 0;
    if (answerHeader.length != 0) {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        if (!m_hSessionCipher) {
            arena.Forget(plain);
            return kBthNotConnected;
        }
        if (SessionDecrypt(m_hSessionCipher, answer + MsgHeader::kSize, answerHeader.length, plain + MsgHeader::kSize,
                           &plainLength) != SessionKeyStatus::Ok) {
            arena.Forget(plain);
            return Result::NteFail;
        }
    }
    answerHeader.length = static_cast<uint16_t>(plainLength);
    answerHeader.Encode(plain);
    *reply = plain;
    *replySize = MsgHeader::kSize + plainLength;
    return 0;
}

uint32_t CDevBth::ReportSessions() {
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    if (m_tokenCache.ContainerListMode()) {
        if (!m_env.buildSessionList) return Result::NteNotSupported;
        if (const uint32_t rc = m_env.buildSessionList(message, size, arena)) return rc;
    } else {
        message = arena.Allocate(MsgHeader::kSize + 2);
        if (!message) return Result::NteNoMemory;
        MsgHeader {kBthLogonStateNotice, 0, 0}.Encode(message);
        size = MsgHeader::kSize;
    }
    uint8_t* reply = nullptr;
    size_t replySize = 0;
    return Transmit(message, size, &reply, &replySize, arena);
}

uint32_t CDevBth::UpdateContainerList(const uint8_t* message, size_t size) {
    return m_tokenCache.UpdateContainerList(message, size);
}

uint32_t CDevBth::EnsureSecureSession() {
    if (LinkCheck() != 0) return kBthNotConnected;
    if (IsKeyed()) return 0;
    const uint32_t rc = Handshake();
    if (rc != 0) DropSession();
    return rc;
}

bool CDevBth::IsKeyed() {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    return m_nSecureState == SecureState::Keyed && m_hSessionCipher != nullptr;
}

uint32_t CDevBth::Handshake() {
    // The hello: version 2, the host GUID text, the computer's names and the host public key.
    const HostKey* hostKey = m_env.hostKey;
    if (!hostKey || !hostKey->g_hostKey.Get() || hostKey->g_nHostKeyBits <= 0) return Result::NteFail;
    uint32_t derSize = 0;
    if (RsaExport(hostKey->g_hostKey.Get(), kRsaPublicKeyFormat, nullptr, &derSize) != CryptoStatus::Ok) {
        return Result::NteFail;
    }
    std::vector<uint8_t> der(derSize);
    if (RsaExport(hostKey->g_hostKey.Get(), kRsaPublicKeyFormat, der.data(), &derSize) != CryptoStatus::Ok) {
        return Result::NteFail;
    }
    const Configuration& config = m_env.config;
    const std::vector<uint8_t> body =
        BuildDeviceHelloReply(config.g_strHostGuid, config.g_strComputerName, config.g_strDnsDomain, der.data(), derSize);
    if (body.size() > MsgHeader::kMaxPayload) return Result::NteFail;
    ReplyArena scratch;
    uint8_t* hello = scratch.Allocate(MsgHeader::kSize + body.size());
    if (!hello) return Result::NteNoMemory;
    const uint16_t code = m_tokenCache.ContainerListMode() ? kBthHelloContainerList : kBthHello;
    MsgHeader {code, static_cast<uint16_t>(body.size()), 0}.Encode(hello);
    std::memcpy(hello + MsgHeader::kSize, body.data(), body.size());

    uint8_t* answer = nullptr;
    size_t answerSize = 0;
    if (const uint32_t rc = Exchange(hello, kBthReplyMilliseconds, scratch, &answer, &answerSize)) return rc;
    const MsgHeader header = *MsgHeader::Decode(answer, answerSize);
    if (header.status != 0) return header.status;
    DeviceHelloReply fields;
    if (ParseDeviceHelloReply(answer + MsgHeader::kSize, header.length, fields) != 0) return Result::NteBadData;
    // The block is exactly as long as the host modulus: anything else is refused before any
    // private-key operation runs on it.
    const uint32_t modulusBytes = (static_cast<uint32_t>(hostKey->g_nHostKeyBits) + 7) / 8;
    if (fields.wrappedKeyLength != modulusBytes) return Result::NteBadData;

    std::vector<uint8_t> data;
    WipedBytes wipe(data);
    if (const uint32_t rc = UnwrapWithHostKey(fields.wrappedKey, fields.wrappedKeyLength, data)) return rc;
    if (data.size() != kWrappedDataSize) return Result::NteBadData;
    CipherHandle cipher = nullptr;
    if (const uint32_t rc = SessionKeyResult(SessionCipherFromWrappedData(data.data(), &cipher))) return rc;
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (m_hSessionCipher) CipherDestroy(m_hSessionCipher);
    m_hSessionCipher = cipher;
    m_nSecureState = SecureState::Keyed;
    return 0;
}

uint32_t CDevBth::UnwrapWithHostKey(const uint8_t* wrapped, uint32_t length, std::vector<uint8_t>& data) {
    data.clear();
    // The key container named by the host GUID text holds the same key pair; it takes the block
    // least significant byte first and removes the padding itself.
    if (IKeyContainers* containers = m_env.platform.keyContainers) {
        ChProv prov(containers);
        ChKey key(containers);
        if (containers->AcquireContext(*prov.Out(), m_env.config.g_strHostGuid, kMsStrongProvider, kProvRsaFull, 0) == 0 &&
            containers->GetUserKey(prov.Get(), kAtKeyExchange, *key.Out()) == 0) {
            std::vector<uint8_t> block(wrapped, wrapped + length);
            WipedBytes wipe(block);
            std::reverse(block.begin(), block.end());
            uint32_t size = length;
            if (containers->Decrypt(key.Get(), block.data(), size) == 0 && size <= length) {
                data.assign(block.begin(), block.begin() + size);
                return 0;
            }
        }
    }
    // The host key pair in the service's own engine.
    const HostKey* hostKey = m_env.hostKey;
    if (!hostKey || !hostKey->g_hostKey.Get() || !m_env.platform.system) return Result::NteFail;
    std::vector<uint8_t> block(length);
    WipedBytes wipe(block);
    if (HostKeyPrivate(*hostKey, *m_env.platform.system, wrapped, length, block.data()) != CryptoStatus::Ok) {
        return Result::NteFail;
    }
    size_t at = 0;
    if (FindWrappedData(block.data(), block.size(), &at) != SessionKeyStatus::Ok) return Result::NteBadData;
    data.assign(block.begin() + static_cast<std::ptrdiff_t>(at), block.end());
    return 0;
}

uint32_t CDevBth::Exchange(const uint8_t* message, uint32_t timeout, ReplyArena& arena, uint8_t** reply,
                           size_t* replySize) {
    *reply = nullptr;
    *replySize = 0;
    const uint32_t start = m_clock.GetTickCount();
    m_dwLastActivityTick = start;
    const uint64_t channel = m_hActiveChannel.load();
    const uint64_t device = m_hActiveChannelDevice.load();
    IBleLibrary* ble = m_env.ble;
    const uint16_t replyCode = MsgHeader::ReplyCode(ReadU16(message));
    uint32_t rc = ble ? WriteMessage(*ble, message, channel) : kBthNotConnected;
    const bool sent = rc == 0;
    while (rc == 0) {
        uint8_t* in = nullptr;
        size_t size = 0;
        rc = ReadMessage(*ble, channel, timeout, arena, &in, &size);
        if (rc != 0) break;
        if (ReadU16(in) == replyCode) {
            *reply = in;
            *replySize = size;
            return 0;
        }
        // Not the reply: dropped. A phone that keeps talking does not hold the link for ever.
        arena.Forget(in);
        if (TicksSince(m_clock.GetTickCount(), start) >= timeout) rc = kBleTimedOut;
    }
    if (rc == kBleChannelClosed) {
        CloseIfDevice(device);
        rc = kBthNotConnected;
    } else if (sent) {
        // The phone has the request and may still answer it. Replies are told apart by their
        // code alone, so that late reply must not meet the next request: the channel is opened
        // afresh (its probe swallows what has arrived by then) and the key is dropped, so that a
        // hello goes first. The phone answers in order, so whatever it still sends for this
        // request comes before the hello's reply, and the hello's exchange discards it.
        if (m_hActiveChannel.load() == channel) m_hActiveChannel = 0;
        DiscardSession();
    }
    DropSession();
    return rc;
}

bool CDevBth::IsConnected() { return m_bPresent.load() == 1 && m_bClosed.load() == 0; }

uint32_t CDevBth::Close() {
    m_bClosed = 1;
    uint32_t expected = 0;
    m_dwLossTick.compare_exchange_strong(expected, NonZeroTick(m_clock.GetTickCount()));
    DiscardSession();
    ReleaseBleDevice();
    // The worker counts the delays from now on.
    m_wake.Wake();
    return 0;
}

void CDevBth::ReleaseBleDevice() {
    // The handle is taken now, not on the closing thread: a rebind stores the new link's handle
    // right after this call, and the closing thread must never close that one.
    const uint64_t handle = m_hBleDevice.exchange(0);
    if (handle == 0) return;
    // The machine-wide release mutex, opened on first use, serialises the closing threads' taking
    // of the handle across all phone devices.
    const MutexHandle release = SvrMutex(m_env.platform, m_env.config);
    IBleLibrary* ble = m_env.ble;
    const uint64_t cookie = m_hSignalCookie.exchange(0);
    if (ble && cookie != 0) ble->RemoveSignalStrengthEvent(handle, cookie);
    m_nBusy.fetch_add(1);
    m_nClosing.fetch_add(1);
    // Transmissions in progress finish first; other closing threads are not waited for, each
    // closes a handle of its own. When the release runs on the thread of a Transmit (no closing
    // thread could start), that Transmit cannot finish first and is not waited for.
    auto closing = [this, ble, handle, release](int32_t own) {
        {
            MutexGuard lock(release);
            // A device rebound meanwhile keeps whatever channel its new link has opened.
            if (m_hBleDevice.load() == 0) m_hActiveChannel = 0;
        }
        while (m_nBusy.load() > m_nClosing.load() + own) m_clock.Sleep(kBusyPollMilliseconds);
        if (ble) ble->CloseDevice(handle);
        m_nClosing.fetch_sub(1);
        m_nBusy.fetch_sub(1);
    };
    if (!m_env.platform.threads->CreateThread([closing] { closing(0); })) closing(t_pTransmitting == this ? 1 : 0);
}

void CDevBth::DiscardSession() {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (m_hSessionCipher) CipherDestroy(m_hSessionCipher);
    m_hSessionCipher = nullptr;
    m_nSecureState = SecureState::Plain;
}

void CDevBth::ClearAwayMarks() {
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (auto& option : m_arrOptions) {
        if (option->m_nOption < 0) option->m_dwAwaySince = 0;
    }
}

void CDevBth::StartWorker() { StartDeviceWorker(*this, m_env.workers); }

void CDevBth::AddLogonOption(std::u16string_view user, std::u16string_view domain, int32_t option, int32_t delay) {
    CDevTovrel::AddLogonOption(user, domain, option, delay);
    m_wake.Wake();
}

void CDevBth::RequestStop() {
    CDevTovrel::RequestStop();
    m_wake.Wake();
}

uint32_t CDevBth::Run() {
    // Each round runs every check that is due: the away tests, the link check at its period, the
    // quiet-channel key drop. None of them talks to the phone before its period has passed, so
    // sleeping only until the next one falls due adds no traffic; it only makes a lock come
    // promptly once the link has closed or a delay has run out.
    while (!IsStopping()) {
        AwayChecks();
        if (OfflineCheck() == 1) return 1;
        QuietCheck();
        if (IsStopping()) break;
        m_clock.SleepUntilWoken(m_wake, NextWait());
    }
    return 1;
}

void CDevBth::QuietCheck() {
    if (m_nBusy.load() == 0 && m_hActiveChannel.load() != 0 &&
        TicksSince(m_clock.GetTickCount(), m_dwLastActivityTick.load()) > kBthQuietMilliseconds) {
        DropSession();
    }
}

uint32_t CDevBth::NextWait() {
    const uint32_t now = m_clock.GetTickCount();
    uint32_t wait = kBthCycleMilliseconds;
    // A point already passed was dealt with by the round just run (or waits on the user's
    // activity): it does not shorten the sleep. Points are counted as time left, never as ticks
    // compared by sign, so a delay of weeks cannot pass for one already gone.
    auto until = [&](uint32_t left) {
        if (left > 0 && left < wait) wait = left;
    };
    std::lock_guard<std::mutex> lock(m_optionMutex);
    const bool closed = m_bClosed.load() != 0;
    const bool lostWithOptions = m_bPresent.load() == 0 && !m_arrOptions.empty();
    const uint32_t period = closed || lostWithOptions ? kBthLostCheckMilliseconds : kBthPresentCheckMilliseconds;
    const uint32_t sinceCheck = TicksSince(now, m_dwLastCheckTick.load());
    until(sinceCheck < period ? period - sinceCheck : 0);
    // While the phone is lost, the end of each option's delay is a check of its own: the lock
    // comes when the delay ends, not at the next beat of the checks.
    const uint32_t lossTick = m_dwLossTick.load();
    for (const auto& option : m_arrOptions) {
        until(AwayDelayLeft(*option, now));
        if (lossTick != 0) until(OfflineDelayLeft(*option, lossTick, now));
    }
    return wait;
}

void CDevBth::AwayChecks() {
    if (!m_env.sessions) return;
    // The worker asks at every round; the options are copied for the test only when one of them
    // is away.
    {
        const uint32_t now = m_clock.GetTickCount();
        std::lock_guard<std::mutex> lock(m_optionMutex);
        if (std::none_of(m_arrOptions.begin(), m_arrOptions.end(),
                         [now](const auto& option) { return OptionIsAway(*option, now); })) {
            return;
        }
    }
    IDeviceSessions& sessions = *m_env.sessions;
    RunOptionTests([&](CLogonOpt& copy) { return AwayTest(sessions, m_clock, copy, *this); });
}

uint32_t CDevBth::OfflineCheck() {
    if (m_nBusy.load() != 0) return 0;
    const bool closed = m_bClosed.load() != 0;
    bool noOptions;
    {
        std::lock_guard<std::mutex> lock(m_optionMutex);
        noOptions = m_arrOptions.empty();
    }
    const bool lostWithOptions = m_bPresent.load() == 0 && !noOptions;
    const uint32_t period = closed || lostWithOptions ? kBthLostCheckMilliseconds : kBthPresentCheckMilliseconds;
    const uint32_t now = m_clock.GetTickCount();
    const uint32_t lastCheck = m_dwLastCheckTick.load();
    if (TicksSince(now, lastCheck) < period && !OfflineDelayEnded(lastCheck, now)) return 0;
    m_dwLastCheckTick = now;
    if (!closed && LinkCheck() == 0) return 0;

    // The phone is lost: the link check or the close marked when. A rebind since then has cleared
    // the mark, and the new link gets its own check in turn; a loss that is no longer true must
    // neither lock a session nor end the device.
    uint32_t lossTick = m_dwLossTick.load();
    if (lossTick == 0) {
        // Found lost without a mark (a close that raced a rebind can leave one so): the loss
        // counts from now, unless the phone is back, present and open.
        if (m_bClosed.load() == 0 && m_bPresent.load() == 1) return 0;
        uint32_t expected = 0;
        m_dwLossTick.compare_exchange_strong(expected, NonZeroTick(now));
        lossTick = m_dwLossTick.load();
    }
    if (m_env.sessions) {
        IDeviceSessions& sessions = *m_env.sessions;
        RunOptionTests([&](CLogonOpt& copy) { return OfflineTest(sessions, m_clock, copy, *this, lossTick); });
    }
    {
        std::lock_guard<std::mutex> lock(m_optionMutex);
        noOptions = m_arrOptions.empty();
    }
    return noOptions && m_nBusy.load() == 0 && TicksSince(m_clock.GetTickCount(), lossTick) > kBthLingerMilliseconds
               ? 1
               : 0;
}

bool CDevBth::OfflineDelayEnded(uint32_t since, uint32_t now) {
    const uint32_t lossTick = m_dwLossTick.load();
    if (lossTick == 0) return false;
    std::lock_guard<std::mutex> lock(m_optionMutex);
    return std::any_of(m_arrOptions.begin(), m_arrOptions.end(), [&](const auto& option) {
        return OfflineDelayEndedBetween(*option, lossTick, since, now);
    });
}

uint32_t CDevBth::Probe(IBleLibrary& ble, uint64_t channel) {
    uint64_t swallowed = 0;
    for (;;) {
        uint8_t byte = 0;
        uint64_t length = 1;
        const uint32_t err = ble.ReadChannel(channel, &byte, &length, 1);
        if (err == kBleTimedOut) return 0;
        if (err != 0) return err;
        if (length == 0) return 0;
        if (++swallowed >= kBthProbeByteLimit) return kBleIoFailed;
    }
}

void CDevBth::MarkLost() {
    m_bPresent = 0;
    uint32_t expected = 0;
    m_dwLossTick.compare_exchange_strong(expected, NonZeroTick(m_clock.GetTickCount()));
}

uint32_t CDevBth::LinkCheck() {
    MutexGuard lock(m_hLinkMutex);
    if (m_bClosed.load()) return kBthNotConnected;
    IBleLibrary* ble = m_env.ble;
    if (!ble) {
        MarkLost();
        return kBthNotConnected;
    }
    const uint64_t device = m_hBleDevice.load();
    uint64_t open = m_hActiveChannel.load();
    if (open != 0 && m_hActiveChannelDevice.load() != device) {
        m_hActiveChannel = 0;
        open = 0;
    }
    if (open != 0) {
        const uint32_t err = Probe(*ble, open);
        if (err == 0) return 0;
        DropSession();
        m_hActiveChannel = 0;
        if (err == kBleChannelClosed) {
            MarkLost();
            CloseIfDevice(device);
            return kBthNotConnected;
        }
    }
    if (device == 0) {
        MarkLost();
        return kBthNotConnected;
    }
    uint64_t channel = 0;
    if (ble->GetActiveChannel(device, &channel) != 0 || channel == 0) {
        MarkLost();
        return kBthNotConnected;
    }
    const uint32_t err = Probe(*ble, channel);
    if (err != 0) {
        MarkLost();
        if (err == kBleChannelClosed) CloseIfDevice(device);
        return kBthNotConnected;
    }
    m_hActiveChannelDevice = device;
    m_hActiveChannel = channel;
    // The link is back: the loss and the away marks of the signal options start afresh. Present
    // is set first, so that a loss tick of 0 is never seen while the phone still counts as lost.
    if (m_bPresent.exchange(1) == 0) {
        m_dwLossTick = 0;
        ClearAwayMarks();
    }
    return 0;
}

void CDevBth::DropSession() {
    if (TicksSince(m_clock.GetTickCount(), m_dwLastTransmitTick.load()) > kBthSessionIdleMilliseconds) {
        DiscardSession();
    }
}

void CDevBth::OnSignalSample(int16_t rssi) {
    {
        std::lock_guard<std::mutex> lock(m_rssiMutex);
        m_nLastRssi = rssi;
        m_bHaveRssi = 1;
        if (m_bStatsOn) {
            if (m_nStatsCount == 0) {
                m_nStatsMax = m_nStatsMin = rssi;
            } else {
                if (rssi > m_nStatsMax) m_nStatsMax = rssi;
                if (rssi < m_nStatsMin) m_nStatsMin = rssi;
            }
            m_nStatsSum += rssi;
            ++m_nStatsCount;
        }
    }
    const uint32_t now = m_clock.GetTickCount();
    bool marked = false;
    {
        std::lock_guard<std::mutex> lock(m_optionMutex);
        for (auto it = m_arrOptions.rbegin(); it != m_arrOptions.rend(); ++it) {
            CLogonOpt& option = **it;
            if (option.m_nOption >= 0) continue;
            option.m_dwLastSample = now;
            if (rssi < static_cast<int16_t>(option.m_nOption)) {
                if (option.m_dwAwaySince == 0) {
                    option.m_dwAwaySince = NonZeroTick(now);
                    marked = true;
                }
            } else {
                option.m_dwAwaySince = 0;
            }
        }
    }
    // A new mark brings the away test's due point: the worker sleeps until then.
    if (marked) m_wake.Wake();
}

void CDevBth::StartRssiStatistics() {
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    m_bStatsOn = 1;
    m_nStatsCount = 0;
    m_nStatsMax = m_nStatsMin = 0;
    m_nStatsSum = 0;
}

void CDevBth::StopRssiStatistics() {
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    m_bStatsOn = 0;
}

RssiStatistics CDevBth::ReadRssiStatistics() {
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    RssiStatistics stats;
    stats.count = static_cast<uint16_t>(m_nStatsCount);
    if (m_nStatsCount > 0) {
        stats.average = static_cast<int16_t>(m_nStatsSum / static_cast<int64_t>(m_nStatsCount));
        stats.maximum = m_nStatsMax;
        stats.minimum = m_nStatsMin;
    }
    return stats;
}

PhoneListFields CDevBth::GetPhoneListFields() {
    PhoneListFields fields;
    fields.cacheGeneration = m_tokenCache.CacheGeneration();
    fields.firstFlag = m_bFlag1.load();
    fields.secondFlag = m_bFlag2.load();
    fields.containerListMode = GetContainerListMode();
    fields.linkKind = m_nLinkKind.load();
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    fields.haveRssi = m_bHaveRssi != 0;
    fields.lastRssi = m_nLastRssi;
    return fields;
}

}  // namespace corvane
