#include "channel/remote_session_ops.h"

#include <cstring>

#include "pki/certificate_upn.h"
#include "platform/text.h"
#include "session/session_codes.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr uint16_t kSessionTime = 0x3024;
constexpr uint16_t kSessionControl = 0x3025;
constexpr uint16_t kDelayedShutdown = 0x3029;
}  // namespace

CRemoteSessionOps::CRemoteSessionOps(Platform& platform, const Configuration& config, CDeviceKeyProof& proof,
                                     const CMessageTexts& texts, CShutdownTimer& timer, RemoteSessionHooks hooks)
    : m_platform(platform), m_config(config), m_proof(proof), m_texts(texts), m_timer(timer),
      m_hooks(std::move(hooks)) {}

std::u16string CRemoteSessionOps::ContainerPath(std::u16string_view deviceId, std::string_view container) {
    std::u16string path = u"\\\\B\\";
    path.append(deviceId).append(u"\\").append(Utf8ToUtf16(container));
    return path;
}

uint32_t CRemoteSessionOps::Handle(const RemotePhone& phone, const uint8_t* request, size_t size, ReplyArena& arena,
                                   uint8_t** reply, size_t* replySize) {
    const auto header = MsgHeader::Decode(request, size);
    if (!header || !header->MatchesSize(size)) return Result::NteBadLen;
    const uint8_t* payload = request + MsgHeader::kSize;
    const size_t length = header->length;
    switch (header->code) {
    case kSessionTime: return HandleSessionTimeQuery(payload, length, arena, reply, replySize);
    case kSessionControl: return HandleSessionControl(phone, payload, length, arena, reply, replySize);
    case kDelayedShutdown: return HandleShutdownRequest(phone, payload, length, arena, reply, replySize);
    default: return Result::NteNotSupported;
    }
}

uint32_t CRemoteSessionOps::ReadCertificateUpn(std::u16string_view path, uint32_t keySpec, std::vector<uint8_t>& cert,
                                               std::u16string& upn) {
    if (!m_platform.cspContainers) return Result::NteNotSupported;
    if (uint32_t rc = ReadContainerCertificate(*m_platform.cspContainers, path, keySpec, cert)) return rc;
    return GetCertificateUpn(*m_platform.certificates, cert.data(), cert.size(), upn);
}

size_t CRemoteSessionOps::FinishReply(uint8_t* reply, size_t capacity, size_t textOffset, std::u16string_view text) {
    const std::string utf8 = Utf16ToUtf8(text);
    if (!utf8.empty() && utf8.size() + 1 <= kRemoteReplyTextRoom && textOffset + utf8.size() + 1 <= capacity) {
        std::memcpy(reply + textOffset, utf8.data(), utf8.size());
        reply[textOffset + utf8.size()] = 0;
        const size_t length = ReadU16(reply + MsgHeader::kLengthOffset) + utf8.size();
        WriteU16(reply + MsgHeader::kLengthOffset, static_cast<uint16_t>(length));
    }
    return MsgHeader::kSize + ReadU16(reply + MsgHeader::kLengthOffset);
}

uint32_t CRemoteSessionOps::ControlSession(uint32_t operation, const CUserLog& session, std::u16string_view path,
                                           uint32_t keySpec, std::u16string_view upn,
                                           const std::vector<uint8_t>& cert) {
    if (operation != RemoteOperation::Logoff && operation != RemoteOperation::Lock &&
        operation != RemoteOperation::Disconnect) {
        return Result::NteBadData;
    }
    // Locking is disconnecting; a locked session has nothing left to lock, and the key is not asked.
    if (operation != RemoteOperation::Logoff && session.m_nState == SessionState::Locked) return Result::UserLocked;
    if (uint32_t rc = m_proof.VerifyDeviceKey(path, keySpec, upn, cert.data(), cert.size())) return rc;
    const uint32_t id = static_cast<uint32_t>(session.m_nSession);
    return operation == RemoteOperation::Logoff ? m_platform.sessions->LogoffSession(id)
                                                : m_platform.sessions->DisconnectSession(id);
}

uint32_t CRemoteSessionOps::HandleSessionControl(const RemotePhone& phone, const uint8_t* payload, size_t length,
                                                 ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    SessionControlRequest request;
    if (uint32_t rc = DecodeSessionControl(payload, length, request)) return rc;
    const std::u16string path = ContainerPath(phone.deviceId, request.container);
    std::vector<uint8_t> cert;
    std::u16string upn;
    if (uint32_t rc = ReadCertificateUpn(path, request.keySpec, cert, upn)) return rc;

    size_t capacity = 0;
    uint8_t* message = NewSessionControlReply(arena, request.operation, 0, capacity);
    if (!message) return Result::NteNoMemory;

    CUserLog session;
    size_t records = 0;
    const bool found = m_hooks.FindSessionOfUpn && m_hooks.FindSessionOfUpn(upn, session, records);
    const uint32_t status = found ? ControlSession(request.operation, session, path, request.keySpec, upn, cert)
                                  : Result::UserSessionNotFound;
    // The reply and the audit row carry the same text.
    const std::u16string text = status != 0 ? m_texts.GetResultText(status) : std::u16string();
    WriteU32(message + MsgHeader::kStatusOffset, status);
    *reply = message;
    *replySize = FinishReply(message, capacity, kSessionControlTextOffset, text);

    if (found) {
        if (m_hooks.WriteEventLine) {
            std::u16string line = u"Zentik:";
            line.append(m_config.g_strComputerName).append(u"|");
            line.append(session.m_strDomain).append(u"\\").append(session.m_strUser).append(u"|");
            line.append(m_texts.GetSessionActionName(static_cast<int32_t>(request.operation))).append(u"|");
            line.append(phone.deviceName).append(u":").append(phone.deviceId).append(u"|");
            line.append(AsciiToUtf16(FormatUtf8("0x%08x", status)));
            m_hooks.WriteEventLine(line);
        }
        if (m_hooks.AuditSessionControl) m_hooks.AuditSessionControl(session, request.operation, phone, status, text);
    }
    return 0;
}

ShutdownOutcome CRemoteSessionOps::Shutdown(const ShutdownRequest& request, size_t records,
                                            const RemotePhone& phone) {
    switch (request.operation) {
    case RemoteOperation::ShutdownStart:
        if (records >= 2) return {Result::OtherUserLoggedOn, request.delaySeconds};
        // A new countdown begins once this reply has gone out to the phone.
        return m_timer.Start(request.delaySeconds, phone.IsReplySent);
    case RemoteOperation::ShutdownCancel: return m_timer.Cancel(request.delaySeconds);
    case RemoteOperation::ShutdownQuery: return m_timer.Query(request.delaySeconds);
    default: return {Result::NteBadData, request.delaySeconds};
    }
}

uint32_t CRemoteSessionOps::HandleShutdownRequest(const RemotePhone& phone, const uint8_t* payload, size_t length,
                                                  ReplyArena& arena, uint8_t** reply, size_t* replySize) {
    ShutdownRequest request;
    if (uint32_t rc = DecodeShutdownRequest(payload, length, request)) return rc;
    const std::u16string path = ContainerPath(phone.deviceId, request.container);
    std::vector<uint8_t> cert;
    std::u16string upn;
    if (uint32_t rc = ReadCertificateUpn(path, request.keySpec, cert, upn)) return rc;

    size_t capacity = 0;
    uint8_t* message = NewShutdownReply(arena, request.operation, request.delaySeconds, 0, capacity);
    if (!message) return Result::NteNoMemory;

    CUserLog session;
    size_t records = 0;
    const bool found = m_hooks.FindSessionOfUpn && m_hooks.FindSessionOfUpn(upn, session, records);
    const ShutdownOutcome outcome =
        found ? Shutdown(request, records, phone) : ShutdownOutcome {Result::UserNotLoggedOn, request.delaySeconds};
    const std::u16string text = outcome.status != 0 ? m_texts.GetResultText(outcome.status) : std::u16string();
    WriteU32(message + MsgHeader::kStatusOffset, outcome.status);
    WriteU32(message + MsgHeader::kSize + 4, outcome.seconds);
    *reply = message;
    *replySize = FinishReply(message, capacity, kShutdownTextOffset, text);

    // Queries are neither logged nor audited.
    if (found && request.operation != RemoteOperation::ShutdownQuery) {
        if (m_hooks.WriteEventLine) {
            std::u16string line = u"Zentik:";
            line.append(m_config.g_strComputerName).append(u"|").append(upn).append(u"|");
            line.append(m_texts.GetShutdownActionName(static_cast<int32_t>(request.operation)));
            line.append(AsciiToUtf16(FormatUtf8("(%d)|", static_cast<int32_t>(outcome.seconds))));
            line.append(phone.deviceName).append(u":").append(phone.deviceId).append(u"|");
            line.append(AsciiToUtf16(FormatUtf8("0x%08x", outcome.status)));
            m_hooks.WriteEventLine(line);
        }
        if (m_hooks.AuditShutdownRequest) {
            m_hooks.AuditShutdownRequest(session, request.operation, request.delaySeconds, phone, text);
        }
    }
    return 0;
}

uint32_t CRemoteSessionOps::HandleSessionTimeQuery(const uint8_t* payload, size_t length, ReplyArena& arena,
                                                   uint8_t** reply, size_t* replySize) {
    std::string text;
    if (uint32_t rc = DecodeSessionTimeQuery(payload, length, text)) return rc;
    const std::u16string upn = Utf8ToUtf16(text);
    if (!m_hooks.IsKnownUpnDomain || !m_hooks.IsKnownUpnDomain(upn)) return Result::UpnCannotLogonHere;
    CUserLog session;
    size_t records = 0;
    if (!m_hooks.FindSessionOfUpn || !m_hooks.FindSessionOfUpn(upn, session, records)) return Result::NteNotFound;
    uint8_t* message = nullptr;
    size_t size = 0;
    if (uint32_t rc = session.EncodeTimes(kSessionTime, text, arena, message, size)) return rc;
    *reply = message;
    *replySize = size;
    return 0;
}

}  // namespace corvane
