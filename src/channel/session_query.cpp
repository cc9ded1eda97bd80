#include "channel/session_query.h"

#include "channel/session_query_codec.h"
#include "channel/socket_helpers.h"
#include "platform/text.h"
#include "wire/companion_contract.h"
#include "wire/reply_arena.h"
#include "wire/result_codes.h"

namespace corvane {

CSessionQueries::CSessionQueries(Platform& platform, Configuration& config, SessionQueryHooks hooks)
    : m_platform(platform), m_config(config), m_hooks(std::move(hooks)) {}

int32_t CSessionQueries::HandleSessionQuery(const uint8_t* datagram, size_t size, const SockAddrIn& source) {
    SessionQuery query;
    if (!DecodeSessionQuery(datagram, size, query)) return Result::DatagramMalformed;
    const std::u16string address = FormatIPv4(source.address);

    MutexGuard paired(m_config.m_hPairedMutex);
    for (const std::u16string& device : m_config.g_pairedDevices) {
        if (!EqualsNoCase(device, query.deviceId) || !m_hooks.ForEachSessionOfUpn) continue;
        m_hooks.ForEachSessionOfUpn(query.principal, [&](const CUserLog& session) {
            ReplyArena arena;
            size_t replySize = 0;
            const uint8_t* reply = session.EncodeStatus(query.deviceIdSlot, query.principalUtf8, m_config, arena, replySize);
            if (reply) SendDatagram(*m_platform.sockets, reply, replySize, address, Contract::DEVICE_REPLY_PORT);
        });
    }
    return 0;
}

}  // namespace corvane
