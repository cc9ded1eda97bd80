// A phone on the local network, as its presence datagrams describe it. A plain record: it has no
// worker, and its disappearance acts on nobody's session. The network device table owns it.
#pragma once

#include <cstdint>
#include <string>

#include "device/logon_opt_list.h"

namespace corvane {

class CDevNet {
public:
    std::u16string m_strId;       // the table key, compared exactly
    std::u16string m_strName;
    CLogonOptArray m_arrLogonOpt;  // users that logged on through this phone, in insertion order
    std::u16string m_strAddress;  // sender's IPv4 address as dotted text
    uint16_t m_wPort = 0;
    uint32_t m_dwValue = 0;       // stored and reported, not interpreted
    int64_t m_tLastSeen = 0;      // seconds since 1970 (UTC) of the last announcement
};

}  // namespace corvane
