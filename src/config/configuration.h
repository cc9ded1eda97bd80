// The registry configuration under HKEY_LOCAL_MACHINE "SOFTWARE\\Tovrel": the host GUID, the
// logon component's ports, the paired devices and the machine identity, read once at start by
// LoadConfiguration, plus the named mutexes that guard the shared tables.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/named_mutex.h"
#include "platform/platform.h"
#include "platform/types.h"
#include "token/p11_names.h"  // the PKCS#11 library value and the slot mutexes

namespace corvane {

// Registry keys and values.
inline constexpr std::u16string_view kTovrelKey = u"SOFTWARE\\Tovrel";
inline constexpr std::u16string_view kLogonOptionsKey = u"SOFTWARE\\Tovrel\\LogonOptions\\";
inline constexpr std::u16string_view kPairKey = u"SOFTWARE\\Tovrel\\Pair";
inline constexpr std::u16string_view kHostGuidValue = u"HostGUID";
inline constexpr std::u16string_view kRsaKeyValue = u"RSAKey";
// An unusable HostGUID or RSAKey is copied to "<name>.bad" before a new value replaces it.
inline constexpr std::u16string_view kBadValueSuffix = u".bad";
inline constexpr size_t kMaxKeptValueBytes = 65536;
inline constexpr std::u16string_view kLogonPortTcpValue = u"LogonPortTCP";
inline constexpr std::u16string_view kLogonPortUdpValue = u"LogonPortUDP";

// Named mutexes shared by the service's threads and, for the "Global\\" names, the companions.
inline constexpr std::u16string_view kMutexPairedGuid = u"_MUTEX_CORVANE_SVR_G_Var_PairedGUID_";
inline constexpr std::u16string_view kMutexDevNet = u"_MUTEX_CORVANE_SVR_G_Var_DevNet_";
inline constexpr std::u16string_view kMutexDevTovrel = u"_MUTEX_CORVANE_SVR_G_Var_DevTovrel_";
inline constexpr std::u16string_view kMutexUserLog = u"_MUTEX_CORVANE_SVR_G_Var_UserLog_";
inline constexpr std::u16string_view kMutexStopBle = u"_Zentik_Mutex_Stop_BLE";
inline constexpr std::u16string_view kMutexTovrelSvr = u"Global\\Global_Mutex_TovrelSvr_20190917_";
// Patterns with one %s: the slot or device name.
inline constexpr const char* kMutexBthDevicePattern = "Global\\Corvane_BTH_%s";

// The process-wide configuration values. Set by LoadConfiguration on the main thread before any
// worker exists and read without locks afterwards, except where noted.
struct Configuration {
    Guid g_hostGuid;
    std::u16string g_strHostGuid;  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, empty if the root key failed
    // Replaced at run time by the stream channel; single words read without a lock.
    std::atomic<uint16_t> g_wLogonPortTcp {0};
    std::atomic<uint16_t> g_wLogonPortUdp {0};
    // Guarded by m_hPairedMutex once workers run.
    std::vector<std::u16string> g_pairedDevices;
    std::u16string g_strComputerName;  // NetBIOS name, at most 15 characters
    std::u16string g_strDnsDomain;

    // The four mutexes opened at start, kept for the life of the process (null: proceed unlocked).
    MutexHandle m_hPairedMutex;
    MutexHandle m_hDevNetMutex;
    MutexHandle m_hDevTovrelMutex;
    MutexHandle m_hUserLogMutex;
    // "Global\\Global_Mutex_TovrelSvr_20190917_", opened on first use by OpenSvrMutex; set and
    // read under m_svrMutexOpen, as the phone devices open it from their own threads.
    MutexHandle m_hSvrMutex;
    std::mutex m_svrMutexOpen;
};

// OpenMutexW, else CreateMutexW with a null DACL (null when both fail).
MutexHandle OpenOrCreateMutex(Platform& platform, std::u16string_view name);
// Opens the machine-wide release mutex once and keeps it in the configuration. 0 or an error.
uint32_t OpenSvrMutex(Platform& platform, Configuration& config);
// The machine-wide release mutex for its users: opened by OpenSvrMutex on first use, null while it
// can be neither opened nor created (its users then proceed unlocked). Safe from any thread.
MutexHandle SvrMutex(Platform& platform, Configuration& config);
// Opens the four mutexes of the service in their fixed order.
void OpenServiceMutexes(Platform& platform, Configuration& config);

uint32_t LoadHostGuid(Platform& platform, Configuration& config);
// Copies the value `name` of SOFTWARE\\Tovrel to "<name>.bad"; the words for the diagnostic line
// ("the old value is kept as HostGUID.bad", or why it could not be).
std::string KeepBadValue(IRegistry& reg, std::u16string_view name);
uint32_t LoadLogonPorts(Platform& platform, Configuration& config);
uint32_t LoadPairedDevices(Platform& platform, Configuration& config);
void LoadComputerNames(Platform& platform, Configuration& config);

// Host GUID, host key, logon ports, paired devices, computer names; each step fails on its own.
// The host key step is given as a callback so that the configuration does not depend on the
// crypto library; the service passes LoadHostKey.
void LoadConfiguration(Platform& platform, Configuration& config, const std::function<uint32_t()>& loadHostKey = {});

}  // namespace corvane
