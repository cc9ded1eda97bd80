#include "upload/audit_collector_config.h"

#include "platform/text.h"

namespace corvane {

namespace {
constexpr size_t kMaxPathBytes = 4096;

std::string ReadString(IRegistry& registry, std::u16string_view name) {
    std::u16string value;
    if (RegQueryString(registry, kAuditCollectorKey, name, value, kMaxPathBytes) != 0) return {};
    return Utf16ToUtf8(value);
}
}  // namespace

bool AuditCollectorConfig::operator==(const AuditCollectorConfig& other) const {
    return bEnabled == other.bEnabled && tls.strHost == other.tls.strHost && tls.wPort == other.tls.wPort &&
           tls.strCaFile == other.tls.strCaFile && tls.strClientCert == other.tls.strClientCert &&
           tls.strClientKey == other.tls.strClientKey && tls.strClientThumbprint == other.tls.strClientThumbprint;
}

AuditCollectorConfig LoadAuditCollectorConfig(IRegistry& registry) {
    AuditCollectorConfig config;
    uint32_t enabled = 0;
    config.bEnabled = RegQueryDword(registry, kAuditCollectorKey, u"Enabled", enabled) == 0 && enabled == 1;
    config.tls.strHost = ReadString(registry, u"Host");
    uint32_t port = 0;
    config.tls.wPort = RegQueryDword(registry, kAuditCollectorKey, u"Port", port) == 0 && port > 0 && port <= 0xFFFF
                           ? static_cast<uint16_t>(port)
                           : kAuditCollectorDefaultPort;
    config.tls.strCaFile = ReadString(registry, u"CaFile");
    config.tls.strClientCert = ReadString(registry, u"ClientCert");
    config.tls.strClientKey = ReadString(registry, u"ClientKey");
    config.tls.strClientThumbprint = ReadString(registry, u"ClientThumbprint");
    return config;
}

}  // namespace corvane
