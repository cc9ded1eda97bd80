#include "device/cdev_bth.h"

#include <algorithm>

#include "device/device_map.h"
#include "platform/text.h"

namespace corvane {

namespace {

constexpr uint32_t kPollMilliseconds = 100;
constexpr uint32_t kBusyPollMilliseconds = 10;

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
      m_env(env) {
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
    {
        // Every connection of this phone shares the lock of the device ID.
        MutexGuard lock(m_hConnectionLock);
        if (m_pConnection && m_pConnection != &connection) m_pConnection->m_pDevice = nullptr;
        m_pConnection = &connection;
    }
    {
        MutexGuard map(m_env.config.m_hDevTovrelMutex);
        m_strName = std::u16string(name);
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
    m_nCacheGeneration.fetch_add(1);
    StopRssiStatistics();
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    m_nStatsCount = 0;
    m_nStatsMax = m_nStatsMin = 0;
    m_nStatsSum = 0;
}

uint32_t CDevBth::CloseIfDevice(uint64_t handle) {
    const uint64_t own = m_hBleDevice.load();
    if (own == 0 || own != handle) return kNteInvalidHandle;
    Close();
    return 0;
}

uint32_t CDevBth::Transmit(const uint8_t*, size_t, uint8_t** reply, size_t* replySize, ReplyArena&) {
    *reply = nullptr;
    *replySize = 0;
    return kBthNotConnected;
}

uint32_t CDevBth::ReportSessions() { return kBthNotConnected; }

bool CDevBth::IsConnected() { return m_bPresent.load() == 1 && m_bClosed.load() == 0; }

uint32_t CDevBth::Close() {
    m_bClosed = 1;
    uint32_t expected = 0;
    m_dwLossTick.compare_exchange_strong(expected, NonZeroTick(m_clock.GetTickCount()));
    DiscardSession();
    ReleaseBleDevice();
    return 0;
}

void CDevBth::ReleaseBleDevice() {
    // The handle is taken now, not on the closing thread: a rebind stores the new link's handle
    // right after this call, and the closing thread must never close that one.
    const uint64_t handle = m_hBleDevice.exchange(0);
    if (handle == 0) return;
    IBleLibrary* ble = m_env.ble;
    const uint64_t cookie = m_hSignalCookie.exchange(0);
    if (ble && cookie != 0) ble->RemoveSignalStrengthEvent(handle, cookie);
    m_nBusy.fetch_add(1);
    m_nClosing.fetch_add(1);
    auto closing = [this, ble, handle] {
        {
            MutexGuard lock(m_env.config.m_hSvrMutex);
            // A device rebound meanwhile keeps whatever channel its new link has opened.
            if (m_hBleDevice.load() == 0) m_hActiveChannel = 0;
        }
        // Transmissions in progress finish first; other closing threads are not waited for,
        // each closes a handle of its own.
        while (m_nBusy.load() > m_nClosing.load()) m_clock.Sleep(kBusyPollMilliseconds);
        if (ble) ble->CloseDevice(handle);
        m_nClosing.fetch_sub(1);
        m_nBusy.fetch_sub(1);
    };
    if (!m_env.platform.threads->CreateThread(closing)) closing();
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

uint32_t CDevBth::Run() {
    // Each step runs every check that is due: the away tests, the link check at its period, the
    // quiet-channel key drop. None of them talks to the phone unless its period has passed, so
    // the short step only makes a lock come promptly once the link has closed or a delay has run
    // out, without adding traffic.
    while (!IsStopping()) {
        AwayChecks();
        if (OfflineCheck() == 1) return 1;
        if (m_nBusy.load() == 0 && m_hActiveChannel.load() != 0 &&
            TicksSince(m_clock.GetTickCount(), m_dwLastActivityTick.load()) > kBthQuietMilliseconds) {
            DropSession();
        }
        if (!IsStopping()) m_clock.Sleep(kPollMilliseconds);
    }
    return 1;
}

void CDevBth::AwayChecks() {
    if (!m_env.sessions) return;
    // The worker asks ten times a second; the options are copied for the test only when one of
    // them is away.
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
    if (TicksSince(now, m_dwLastCheckTick.load()) < period) return 0;
    m_dwLastCheckTick = now;
    if (!closed && LinkCheck() == 0) return 0;

    // The phone is lost: the link check or the close marked when. A rebind since then has cleared
    // the mark, and the new link gets its own check in turn; a loss that is no longer true must
    // neither lock a session nor end the device.
    const uint32_t lossTick = m_dwLossTick.load();
    if (lossTick == 0) return 0;
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
    // The link is back: the loss and the away marks of the signal options start afresh.
    if (m_bPresent.load() == 0) {
        m_dwLossTick = 0;
        ClearAwayMarks();
    }
    m_bPresent = 1;
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
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (auto it = m_arrOptions.rbegin(); it != m_arrOptions.rend(); ++it) {
        CLogonOpt& option = **it;
        if (option.m_nOption >= 0) continue;
        option.m_dwLastSample = now;
        if (rssi < static_cast<int16_t>(option.m_nOption)) {
            if (option.m_dwAwaySince == 0) option.m_dwAwaySince = now;
        } else {
            option.m_dwAwaySince = 0;
        }
    }
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
    fields.cacheGeneration = m_nCacheGeneration.load();
    fields.firstFlag = m_bFlag1.load();
    fields.secondFlag = m_bFlag2.load();
    fields.containerListMode = m_bContainerListMode.load();
    fields.linkKind = m_nLinkKind.load();
    std::lock_guard<std::mutex> lock(m_rssiMutex);
    fields.haveRssi = m_bHaveRssi != 0;
    fields.lastRssi = m_nLastRssi;
    return fields;
}

}  // namespace corvane
