// A phone seen as a device: created when a phone completes its first hello on its passive BLE
// channel, rebound to every later connection of the same phone. It keeps an active channel of its
// own to the phone, keyed by a session key the phone sends wrapped under the host key, on which
// it forwards the CSP's token commands (answering the repeated ones from its token cache) and
// tells the phone the console's logon state. It carries the phone's flag bytes, its signal
// samples and statistics, and the link state that the phone list reports, and its worker locks
// the sessions of its logon options when the phone goes away.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/host_key.h"
#include "crypto/cipher.h"
#include "device/ble_connection.h"
#include "device/ble_library.h"
#include "device/cdev_tovrel.h"
#include "device/device_worker.h"
#include "device/phone_token_cache.h"
#include "device/presence_tests.h"
#include "platform/platform.h"
#include "platform/wake_signal.h"
#include "wire/msg_header.h"

namespace corvane {

class DeviceMap;

// The session list message (0x3105) the phone gets in container-list mode, from `arena`.
using SessionListBuilder = std::function<uint32_t(uint8_t*& message, size_t& size, ReplyArena& arena)>;

// What a phone device needs from the service: the platform, the host of device workers (the
// device map its worker leaves at its end, the worker counter of the stop sequence) and the BLE
// library.
struct BthDeviceEnv {
    Platform& platform;
    Configuration& config;
    DeviceWorkerHost& workers;
    IBleLibrary* ble = nullptr;
    // The session side of the presence tests; without it the options are kept but never acted on.
    IDeviceSessions* sessions = nullptr;
    // The host key pair, under whose public half the phone wraps the active channel's session
    // key; without it (and without the key container) the channel cannot be keyed.
    const HostKey* hostKey = nullptr;
    // The principal name of a certificate the token cache stores.
    CertificateUpnReader upnReader {};
    SessionListBuilder buildSessionList {};
};

// The RSSI statistics a phone asks for with its signal statistics request.
struct RssiStatistics {
    uint16_t count = 0;
    int16_t average = 0;
    int16_t maximum = 0;
    int16_t minimum = 0;
};

// The fields of one record of the phone list.
struct PhoneListFields {
    uint32_t cacheGeneration = 0;
    uint8_t firstFlag = 0;
    uint8_t secondFlag = 0;
    uint32_t containerListMode = 0;
    uint32_t linkKind = 0;
    bool haveRssi = false;
    int16_t lastRssi = 0;
};

// How long a closed phone with no logon options stays in the device map.
inline constexpr uint32_t kBthLingerMilliseconds = 30000;
inline constexpr uint32_t kNteInvalidHandle = 0x80090026;
// ERROR_DEVICE_NOT_CONNECTED: the phone cannot be reached.
inline constexpr uint32_t kBthNotConnected = 1167;
// A session key unused for longer than this is dropped when the link falters.
inline constexpr uint32_t kBthSessionIdleMilliseconds = 300000;
// The session key is dropped when the active channel has been quiet this long.
inline constexpr uint32_t kBthQuietMilliseconds = 30000;
// How often the link is checked: while the phone is closed, or lost with options to act on, and
// otherwise.
inline constexpr uint32_t kBthLostCheckMilliseconds = 1000;
inline constexpr uint32_t kBthPresentCheckMilliseconds = 3000;
// The longest the worker sleeps between two rounds of checks.
inline constexpr uint32_t kBthCycleMilliseconds = 2000;
// How long one read of a reply may wait: key generation on the phone takes long.
inline constexpr uint32_t kBthReplyMilliseconds = 20000;
inline constexpr uint32_t kBthKeyGenerationReplyMilliseconds = 90000;
// Codes of the active channel: the hello (the second form in container-list mode), the logon
// state notice and the session list.
inline constexpr uint16_t kBthHello = 0x0101;
inline constexpr uint16_t kBthHelloContainerList = 0x0102;
inline constexpr uint16_t kBthLogonStateNotice = 0x3016;
inline constexpr uint16_t kBthSessionList = 0x3105;
inline constexpr uint16_t kBthGenerateKey = 0x2021;
// The most bytes a link probe swallows before it gives up on the channel (about one whole
// message): the active channel is quiet between exchanges, and a phone that keeps talking must
// not hold the worker forever.
inline constexpr uint64_t kBthProbeByteLimit = MsgHeader::kSize + MsgHeader::kMaxPayload + 1;

class CDevBth final : public CDevTovrel {
public:
    // A new device for the phone served by `connection`, whose hello has just succeeded. The
    // creator adds it to the device map and then calls StartWorker.
    CDevBth(BthDeviceEnv env, BleConnection& connection);
    ~CDevBth() override;

    // Attaches the device to a new connection after a fresh hello, in one step under the lock of
    // the device ID: the old connection loses its device pointer and the new one gets it, the link
    // state, flag bytes, session and statistics start afresh. The name changes under the device
    // map mutex, under which the phone list reads it.
    void Rebind(BleConnection& connection, std::u16string_view name);
    // For the creator that has entered this new device into the map: gives the connection its
    // device pointer, unless another connection of the phone has rebound the device since.
    void AttachCreator(BleConnection& connection);
    // For a new device that lost the race into the map and was never used: it lets go of the
    // connection and its BLE handle without closing it, as the connection's handle stays in use.
    void AbandonConnection();
    // Close when `handle` is this device's BLE handle (non-zero); else 0x80090026.
    uint32_t CloseIfDevice(uint64_t handle);

    bool IsConnected() override;
    uint32_t Close() override;
    // A token command (header and plain payload) for the phone: answered from the token cache, or
    // sent keyed on the active channel, the reply (header and plain payload) allocated from
    // `arena`. The phone's status in the reply is the caller's to read; the result is 0, or why
    // no reply came (kBthNotConnected, the library's time-out, a key or cipher failure).
    uint32_t Transmit(const uint8_t* request, size_t requestSize, uint8_t** reply, size_t* replySize,
                      ReplyArena& arena) override;
    // Tells the phone the console's logon state: the session list in container-list mode, else
    // the bare notice. The Transmit result; the reply is not used.
    uint32_t ReportSessions() override;
    void AddLogonOption(std::u16string_view user, std::u16string_view domain, int32_t option, int32_t delay) override;
    void RequestStop() override;
    void StartWorker() override;
    // Runs the checks until the device's life ends or a stop is asked. Between rounds it sleeps
    // until the next check or option falls due (at most kBthCycleMilliseconds), and wakes at once
    // when the phone closes, is rebound, gets an option or a weak sample, or a stop is asked.
    uint32_t Run() override;
    // How long Run sleeps after a round at the present tick (exposed for the tests): until the
    // next link check, or the end of an option's delay, whichever comes first.
    uint32_t NextWait();

    // The worker's presence checks, one cycle's worth each (exposed for the tests). AwayChecks runs
    // the away test of every option; OfflineCheck checks the link when its period has passed and,
    // when the phone is lost, runs the offline tests: 1 when the device's life is over.
    void AwayChecks();
    uint32_t OfflineCheck();
    // Drops the session key of an active channel that has been quiet for kBthQuietMilliseconds,
    // once the key has gone unused for kBthSessionIdleMilliseconds.
    void QuietCheck();
    // Under the link mutex: 0 when the active channel is usable (reopened if need be), else
    // kBthNotConnected with the presence flag cleared and the loss marked.
    uint32_t LinkCheck();
    bool IsPresent() const { return m_bPresent.load() == 1; }
    uint32_t GetLossTick() const { return m_dwLossTick.load(); }
    // Transmit calls in progress plus pending releases of the BLE handle.
    int32_t GetBusy() const { return m_nBusy.load(); }
    bool IsKeyed();

    // One signal-strength sample (called under the device map mutex; takes no device lock).
    void OnSignalSample(int16_t rssi);
    // The statistics operations of the phone's signal statistics request.
    void StartRssiStatistics();
    void StopRssiStatistics();
    RssiStatistics ReadRssiStatistics();

    // The phone's flag bytes (set through its status request).
    uint8_t GetFirstFlag() const { return m_bFlag1.load(); }
    uint8_t GetSecondFlag() const { return m_bFlag2.load(); }
    void SetFirstFlag(uint8_t value) { m_bFlag1 = value; }
    void SetSecondFlag(uint8_t value) { m_bFlag2 = value; }
    // The token cache's part of the passive channel: the phone's container list (0 or the error
    // to answer it with), the status notification's reset, the 0x0102 hello's mode.
    uint32_t UpdateContainerList(const uint8_t* message, size_t size);
    void ResetCacheV1() { m_tokenCache.ResetCacheV1(); }
    void SetContainerListMode() { m_tokenCache.SetContainerListMode(); }
    uint32_t GetContainerListMode() { return m_tokenCache.ContainerListMode() ? 1 : 0; }
    // The phone's last container list as the phone list passes it on (empty when none is held).
    std::vector<uint8_t> GetContainerImage() { return m_tokenCache.RawImage(); }

    uint64_t GetBleDevice() const { return m_hBleDevice.load(); }
    void SetSignalCookie(uint64_t cookie) { m_hSignalCookie = cookie; }
    uint32_t GetLinkKind() const { return m_nLinkKind.load(); }
    // Under the connection lock: the connection serving the phone, and its detachment when that
    // connection ends.
    BleConnection* GetConnection() const { return m_pConnection; }
    void DetachConnection(const BleConnection& connection) {
        if (m_pConnection == &connection) m_pConnection = nullptr;
    }
    PhoneListFields GetPhoneListFields();

private:
    // Gives the phone's BLE handle back to the library on a closing thread, once transmissions in
    // progress have finished.
    void ReleaseBleDevice();
    void DiscardSession();
    // Under the link mutex: LinkCheck, then the hello that keys the active channel unless it is
    // keyed already. 0 or the error; a failed hello leaves the key to DropSession.
    uint32_t EnsureSecureSession();
    uint32_t Handshake();
    // The 24 bytes the phone wrapped under the host public key: the key container's key first,
    // the host key pair when any step of that fails. 0, NTE_FAIL or NTE_BAD_DATA.
    uint32_t UnwrapWithHostKey(const uint8_t* wrapped, uint32_t length, std::vector<uint8_t>& data);
    // Under the link mutex: writes the message on the active channel and reads until the reply
    // with its code arrives, in a message from `arena`. A closed channel closes the device
    // (kBthNotConnected); a phone that keeps sending other messages past the time-out gets the
    // library's time-out.
    uint32_t Exchange(const uint8_t* message, uint32_t timeout, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    // Under the link mutex: the keyed exchange of a whole message, the plain reply copied into
    // `arena`.
    uint32_t Forward(const uint8_t* request, size_t requestSize, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    // Discards the session key only once it has been unused for kBthSessionIdleMilliseconds.
    void DropSession();
    // Clears the presence flag and marks the loss's tick unless one is marked already.
    void MarkLost();
    // Whether the delay of an option of the lost phone ended after tick `since` and by `now`: the
    // offline check is then due, whatever its period.
    bool OfflineDelayEnded(uint32_t since, uint32_t now);
    void ClearAwayMarks();
    // Reads and discards what is pending on `channel`: 0 when it is quiet, else the library's
    // error (or kBleIoFailed after kBthProbeByteLimit bytes).
    uint32_t Probe(IBleLibrary& ble, uint64_t channel);

    BthDeviceEnv m_env;
    // The named mutex of the device ID: the connections' lock, which guards m_pConnection.
    MutexHandle m_hConnectionLock;
    MutexHandle m_hLinkMutex;     // "Global\\Corvane_BTH_<id>"
    MutexHandle m_hContentMutex;  // the same with "_Content"
    std::atomic<int32_t> m_nBusy {0};
    std::atomic<uint32_t> m_dwLossTick {0};
    std::atomic<uint8_t> m_bFlag1 {0};
    std::atomic<uint8_t> m_bFlag2 {0};
    // Both variants of the token cache, with the container-list mode and the cache generation.
    CPhoneTokenCache m_tokenCache;
    std::atomic<uint32_t> m_nLinkKind {0};
    BleConnection* m_pConnection = nullptr;  // guarded by m_hConnectionLock
    std::atomic<uint64_t> m_hBleDevice {0};
    std::atomic<uint64_t> m_hActiveChannel {0};
    // The BLE handle the active channel was opened for: a channel left over from a handle the
    // phone no longer uses is dropped, never probed, so its end cannot close the rebound phone.
    std::atomic<uint64_t> m_hActiveChannelDevice {0};
    // Closing threads among the busy count.
    std::atomic<int> m_nClosing {0};
    std::atomic<uint64_t> m_hSignalCookie {0};
    // Signal samples and statistics: written by the library's signal thread, read by requests.
    std::mutex m_rssiMutex;
    int16_t m_nLastRssi = 0;
    uint32_t m_bHaveRssi = 0;
    uint32_t m_bStatsOn = 0;
    uint32_t m_nStatsCount = 0;
    int16_t m_nStatsMax = 0;
    int16_t m_nStatsMin = 0;
    int64_t m_nStatsSum = 0;
    // The session of the active channel.
    std::mutex m_sessionMutex;
    CipherHandle m_hSessionCipher = nullptr;
    uint32_t m_nSecureState = SecureState::Plain;
    std::atomic<uint32_t> m_dwLastTransmitTick {0};
    std::atomic<uint32_t> m_dwLastActivityTick {0};
    std::atomic<uint32_t> m_dwLastCheckTick {0};
    std::atomic<uint32_t> m_bPresent {0};
    std::atomic<uint32_t> m_bClosed {0};
    // Ends the worker's sleep early.
    WakeSignal m_wake;
};

}  // namespace corvane
