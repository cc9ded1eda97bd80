// Where audit rows go, from HKLM\SOFTWARE\Tovrel\AuditCollector: `Enabled` (REG_DWORD, 1 to ship),
// `Host` (REG_SZ, also the name the collector's certificate must carry), `Port` (REG_DWORD, 2514
// when absent), `CaFile` (REG_SZ, PEM; on Windows empty means the machine's Root store),
// `ClientCert` and `ClientKey` (REG_SZ, PEM, optional), `ClientThumbprint` (REG_SZ, Windows).
// Scripts write these values: the names are a contract.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/tls_streams.h"

namespace corvane {

inline constexpr std::u16string_view kAuditCollectorKey = u"SOFTWARE\\Tovrel\\AuditCollector";
inline constexpr uint16_t kAuditCollectorDefaultPort = 2514;
// The service's own control that rereads these values (sc control Corvane 200; corvane-ctl reload).
inline constexpr uint32_t kAuditCollectorReloadControl = 200;
// The question the control tool asks for the shipper's status line.
inline constexpr std::string_view kAuditShipperQuestion = "audit-shipper";
inline constexpr std::string_view kAuditShipperOffLine = "audit shipper: off";

struct AuditCollectorConfig {
    bool bEnabled = false;
    TlsClientSettings tls;

    // Shipping is on only with `Enabled` 1 and a host.
    bool Ships() const { return bEnabled && !tls.strHost.empty(); }
    bool operator==(const AuditCollectorConfig& other) const;
};

AuditCollectorConfig LoadAuditCollectorConfig(IRegistry& registry);

}  // namespace corvane
