#include "config/configuration.h"

#include "platform/guid_text.h"
#include "platform/text.h"

namespace corvane {

MutexHandle OpenOrCreateMutex(Platform& platform, std::u16string_view name) {
    return platform.mutexes ? platform.mutexes->OpenOrCreate(name, true) : nullptr;
}

uint32_t OpenSvrMutex(Platform& platform, Configuration& config) {
    std::lock_guard<std::mutex> lock(config.m_svrMutexOpen);
    if (config.m_hSvrMutex) return 0;
    if (!platform.mutexes) return WinError::InvalidHandle;
    uint32_t error = 0;
    config.m_hSvrMutex = platform.mutexes->OpenOrCreate(kMutexTovrelSvr, true, error);
    if (config.m_hSvrMutex) return 0;
    return error != 0 ? error : WinError::InvalidHandle;
}

MutexHandle SvrMutex(Platform& platform, Configuration& config) {
    OpenSvrMutex(platform, config);
    std::lock_guard<std::mutex> lock(config.m_svrMutexOpen);
    return config.m_hSvrMutex;
}

void OpenServiceMutexes(Platform& platform, Configuration& config) {
    config.m_hPairedMutex = OpenOrCreateMutex(platform, kMutexPairedGuid);
    config.m_hDevNetMutex = OpenOrCreateMutex(platform, kMutexDevNet);
    config.m_hDevTovrelMutex = OpenOrCreateMutex(platform, kMutexDevTovrel);
    config.m_hUserLogMutex = OpenOrCreateMutex(platform, kMutexUserLog);
}

std::string KeepBadValue(IRegistry& reg, std::u16string_view name) {
    std::u16string bad(name);
    bad += kBadValueSuffix;
    if (const uint32_t rc = RegCopyValue(reg, kTovrelKey, name, bad, kMaxKeptValueBytes)) {
        return "the old value could not be kept (error " + std::to_string(rc) + ")";
    }
    return "the old value is kept as " + Utf16ToUtf8(bad);
}

uint32_t LoadHostGuid(Platform& platform, Configuration& config) {
    IRegistry& reg = *platform.registry;
    if (uint32_t rc = reg.CreateKey(kTovrelKey)) {
        platform.diagnostics->Writef("registry key SOFTWARE\\Tovrel cannot be opened (error %u); no host GUID", rc);
        return rc;
    }
    std::u16string text;
    const uint32_t readRc = RegQueryString(reg, kTovrelKey, kHostGuidValue, text, 80);
    if (readRc == 0) {
        if (auto guid = ParseGuid(text)) {
            config.g_hostGuid = *guid;
            config.g_strHostGuid = text;
            return 0;
        }
        platform.diagnostics->Writef("HostGUID value \"%s\" does not parse; %s, and a new host GUID replaces it",
                                     Utf16ToUtf8(text).c_str(), KeepBadValue(reg, kHostGuidValue).c_str());
    } else if (readRc != WinError::FileNotFound) {
        platform.diagnostics->Writef("HostGUID value unreadable (error %u); %s, and a new host GUID replaces it", readRc,
                                     KeepBadValue(reg, kHostGuidValue).c_str());
    }
    Guid guid;
    if (uint32_t rc = platform.system->CreateGuid(guid)) return rc;
    config.g_hostGuid = guid;
    config.g_strHostGuid = FormatGuid(guid);
    if (uint32_t rc = RegSetString(reg, kTovrelKey, kHostGuidValue, config.g_strHostGuid)) {
        platform.diagnostics->Writef("HostGUID cannot be stored (error %u)", rc);
        return rc;
    }
    return 0;
}

uint32_t LoadLogonPorts(Platform& platform, Configuration& config) {
    IRegistry& reg = *platform.registry;
    if (uint32_t rc = reg.CreateKey(kLogonOptionsKey)) return rc;
    uint32_t rc = 0;
    for (auto [name, port] : {std::pair {kLogonPortTcpValue, &config.g_wLogonPortTcp},
                              std::pair {kLogonPortUdpValue, &config.g_wLogonPortUdp}}) {
        // The value is read into a 4-byte buffer and its low 16 bits taken, whatever its type.
        RegValue value;
        rc = reg.QueryValue(kLogonOptionsKey, name, value, 4);
        if (rc == 0) {
            uint32_t raw = 0;
            for (size_t i = 0; i < value.data.size() && i < 4; ++i) raw |= static_cast<uint32_t>(value.data[i]) << (8 * i);
            port->store(static_cast<uint16_t>(raw));
            if (value.type != RegType::Dword) {
                platform.diagnostics->Writef("%s is not a REG_DWORD (type %u); its low 16 bits are used",
                                             Utf16ToUtf8(name).c_str(), value.type);
            }
        } else if (rc != WinError::FileNotFound) {
            platform.diagnostics->Writef("%s unreadable (error %u); the port stays %u", Utf16ToUtf8(name).c_str(), rc,
                                         port->load());
        }
    }
    return rc;
}

uint32_t LoadPairedDevices(Platform& platform, Configuration& config) {
    IRegistry& reg = *platform.registry;
    if (uint32_t rc = reg.OpenKey(kPairKey)) return rc;
    std::vector<std::u16string> names;
    if (uint32_t rc = reg.EnumSubkeys(kPairKey, names)) return rc;
    for (const auto& name : names) {
        if (ParseGuid(name)) {
            config.g_pairedDevices.push_back(name);
        } else {
            platform.diagnostics->Writef("Pair subkey \"%s\" is not a GUID; skipped", Utf16ToUtf8(name).c_str());
        }
    }
    return 0;
}

void LoadComputerNames(Platform& platform, Configuration& config) {
    std::u16string name;
    if (platform.system->GetComputerNameDnsDomain(name) == 0) config.g_strDnsDomain = name.substr(0, 255);
    name.clear();
    if (platform.system->GetComputerNameNetBios(name) == 0) config.g_strComputerName = name.substr(0, 15);
}

void LoadConfiguration(Platform& platform, Configuration& config, const std::function<uint32_t()>& loadHostKey) {
    LoadHostGuid(platform, config);
    if (loadHostKey) loadHostKey();
    LoadLogonPorts(platform, config);
    LoadPairedDevices(platform, config);
    LoadComputerNames(platform, config);
}

}  // namespace corvane
