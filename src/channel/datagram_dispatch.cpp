// The command table of the datagram channel.
#include <algorithm>
#include <iterator>

#include "channel/datagram_channel.h"
#include "channel/datagram_forward.h"
#include "wire/msg_header.h"
#include "channel/presence_datagram.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
bool IsLoopback(const SockAddrIn& source) { return (source.address >> 24) == 127; }

template <size_t N>
bool Contains(const uint16_t (&codes)[N], uint16_t code) {
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}
}  // namespace

int32_t CDatagramChannel::DispatchDatagram(const uint8_t* datagram, size_t size, const SockAddrIn& source) {
    const auto header = MsgHeader::Decode(datagram, size);
    if (!header || !header->MatchesSize(size)) return Result::DatagramMalformed;

    using namespace Contract;
    const uint16_t code = header->code;
    switch (code) {
        case kPresence:
        case kWithdrawal:
            return HandlePresence(code, datagram, size, source);
        case kTestLogoff:
            if (m_hooks.TestLogoff) m_hooks.TestLogoff();
            return 0;
        case kLogonResultReport:
            // Only the logon component reports logons, and it runs on this machine. A report from
            // the network could plant logon options on the user's devices, create card reader
            // devices at will and fill the audit trail; it is dropped like an unknown code.
            if (!IsLoopback(source)) return Result::DatagramMalformed;
            return m_reports.HandleLogonResultReport(datagram, size);
        case kSessionQuery:
            return m_queries.HandleSessionQuery(datagram, size, source);
        case kRemoteLogoff:
            return m_hooks.HandleRemoteLogoff ? m_hooks.HandleRemoteLogoff(datagram, size, source)
                                              : Result::DatagramMalformed;
        default:
            break;
    }
    if (Contains(kAlwaysForwardCodes, code)) return Forward(datagram, size, source);
    if (Contains(kGatedForwardCodes, code)) {
        return ForwardEnabled.load() ? Forward(datagram, size, source) : Result::DatagramDropped;
    }
    return Result::DatagramMalformed;
}

int32_t CDatagramChannel::Forward(const uint8_t* datagram, size_t size, const SockAddrIn& source) {
    return ForwardDatagram(*m_platform.sockets, m_config.g_wLogonPortUdp.load(), datagram, size, source);
}

int32_t CDatagramChannel::HandlePresence(uint16_t code, const uint8_t* datagram, size_t size,
                                         const SockAddrIn& source) {
    PresenceDatagram presence;
    if (!DecodePresence(datagram, size, presence)) return Result::DatagramMalformed;
    if (code == Contract::kWithdrawal) {
        m_netDevices.WithdrawNetDevice(presence.id);
    } else {
        m_netDevices.AnnounceNetDevice(presence.id, presence.name, presence.port, presence.value,
                                       FormatIPv4(source.address));
    }
    return 0;
}

}  // namespace corvane
