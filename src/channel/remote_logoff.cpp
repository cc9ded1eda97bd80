#include "channel/remote_logoff.h"

#include "channel/remote_logoff_codec.h"
#include "channel/socket_helpers.h"
#include "pki/certificate_upn.h"
#include "session/session_codes.h"
#include "platform/text.h"
#include "wire/companion_contract.h"
#include "wire/result_codes.h"

namespace corvane {

CRemoteLogoff::CRemoteLogoff(Platform& platform, Configuration& config, CDeviceKeyProof& proof,
                             const CMessageTexts& texts, RemoteLogoffHooks hooks)
    : m_platform(platform), m_config(config), m_proof(proof), m_texts(texts), m_hooks(std::move(hooks)) {}

uint32_t CRemoteLogoff::Act(uint32_t operation, std::u16string_view path, std::u16string_view upn,
                            const std::vector<uint8_t>& cert) {
    CUserLog session;
    if (!m_hooks.FindSessionOfUpn || !m_hooks.FindSessionOfUpn(upn, session)) return Result::UserSessionNotFound;
    // Locking is disconnecting; a locked session has nothing left to lock or disconnect.
    if ((operation == kRemoteLock || operation == kRemoteDisconnect) && session.m_nState == SessionState::Locked) {
        return Result::UserLocked;
    }
    if (operation != kRemoteLogoff && operation != kRemoteLock && operation != kRemoteDisconnect) {
        return Result::NteBadData;
    }
    if (uint32_t rc = m_proof.VerifyDeviceKey(path, kAtKeyExchange, upn, cert.data(), cert.size())) return rc;
    return operation == kRemoteLogoff ? m_platform.sessions->LogoffSession(static_cast<uint32_t>(session.m_nSession))
                                      : m_platform.sessions->DisconnectSession(static_cast<uint32_t>(session.m_nSession));
}

int32_t CRemoteLogoff::HandleRemoteLogoff(const uint8_t* datagram, size_t size, const SockAddrIn& source) {
    RemoteLogoffRequest request;
    if (!DecodeRemoteLogoff(datagram, size, request)) return Result::DatagramMalformed;

    // The CSP and the certificate first, before any lock is taken.
    const std::u16string path = u"\\\\?\\" + request.deviceId + u"\\" + request.container;
    std::vector<uint8_t> cert;
    if (uint32_t rc = ReadContainerCertificate(*m_platform.cspContainers, path, kAtKeyExchange, cert)) {
        return static_cast<int32_t>(rc);
    }
    std::u16string upn;
    if (uint32_t rc = GetCertificateUpn(*m_platform.certificates, cert.data(), cert.size(), upn)) {
        return static_cast<int32_t>(rc);
    }

    MutexGuard paired(m_config.m_hPairedMutex);
    bool isPaired = false;
    for (const std::u16string& device : m_config.g_pairedDevices) {
        if (EqualsNoCase(device, request.deviceId)) {
            isPaired = true;
            break;
        }
    }
    if (!isPaired) return 0;

    const uint32_t result = Act(request.operation, path, upn, cert);
    ReplyArena arena;
    size_t replySize = 0;
    const size_t capacity = RemoteLogoffTextOffset(request) + kMaxReplyResultText;
    uint8_t* reply = EncodeRemoteLogoffReply(request, m_config.g_strHostGuid, result, arena, capacity, replySize);
    if (!reply) return 0;
    if (result != 0) replySize += m_texts.AppendReplyResultText({reply, capacity}, RemoteLogoffTextOffset(request), result);
    SendDatagram(*m_platform.sockets, reply, replySize, FormatIPv4(source.address), Contract::DEVICE_REPLY_PORT);
    return 0;
}

}  // namespace corvane
