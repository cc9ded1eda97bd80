// A Bluetooth phone acts on its user's Windows session from its passive channel: the session's
// times (0x3024), log off, lock or disconnect (0x3025) and the delayed shutdown (0x3029). The
// phone names one of its key containers; the service opens it through the companion CSP as
// "\\B\{device id}\{container}", reads the certificate of the key, takes the user principal name
// from it and finds that user's session. Log off, lock and disconnect also need the proof that
// the phone holds the certificate's key; the shutdown reads the certificate only. The request
// and reply layouts are in phone/remote_session_codec.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "phone/remote_session_codec.h"
#include "pki/device_key_proof.h"
#include "platform/platform.h"
#include "session/cuser_log.h"
#include "session/shutdown_timer.h"
#include "wire/reply_arena.h"
#include "wire/result_text.h"

namespace corvane {

// The phone a request came from: its connection's device ID and name, and whether that
// connection is back to waiting for its next request (its reply written) or has ended. The
// test may outlive the request and the connection; empty: there is nothing to wait for.
struct RemotePhone {
    std::u16string_view deviceId;
    std::u16string_view deviceName;
    std::function<bool()> IsReplySent;
};

// The operations' reach into the session monitor, the event log and the audit trail. An empty
// hook finds no session, knows no domain, writes nothing.
struct RemoteSessionHooks {
    // Under the session table mutex: copies the first record whose MatchesUpn accepts the name
    // and counts the table's records; false when no record matches.
    std::function<bool(std::u16string_view upn, CUserLog& copy, size_t& records)> FindSessionOfUpn;
    std::function<bool(std::u16string_view upn)> IsKnownUpnDomain;
    std::function<void(std::u16string_view line)> WriteEventLine;
    std::function<void(const CUserLog& session, uint32_t operation, const RemotePhone& phone, uint32_t status,
                       std::u16string_view resultText)>
        AuditSessionControl;
    std::function<void(const CUserLog& session, uint32_t operation, uint32_t delaySeconds, const RemotePhone& phone,
                       std::u16string_view resultText)>
        AuditShutdownRequest;
};

class CRemoteSessionOps {
public:
    CRemoteSessionOps(Platform& platform, const Configuration& config, CDeviceKeyProof& proof,
                      const CMessageTexts& texts, CShutdownTimer& timer, RemoteSessionHooks hooks = {});
    CRemoteSessionOps(const CRemoteSessionOps&) = delete;
    CRemoteSessionOps& operator=(const CRemoteSessionOps&) = delete;

    // One plain request (header and payload) of code 0x3024, 0x3025 or 0x3029: 0 with the reply
    // from `arena`, or the error for the bare error reply (a bad length or key spec, a CSP or
    // certificate failure, an unknown domain, no session for a time query). Outcomes after the
    // certificate has been read travel in the reply's status.
    uint32_t Handle(const RemotePhone& phone, const uint8_t* request, size_t size, ReplyArena& arena,
                    uint8_t** reply, size_t* replySize);

    uint32_t HandleSessionControl(const RemotePhone& phone, const uint8_t* payload, size_t length,
                                  ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t HandleShutdownRequest(const RemotePhone& phone, const uint8_t* payload, size_t length,
                                   ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t HandleSessionTimeQuery(const uint8_t* payload, size_t length, ReplyArena& arena, uint8_t** reply,
                                    size_t* replySize);

    RemoteSessionHooks& Hooks() { return m_hooks; }

    // "\\B\{device id}\{container}".
    static std::u16string ContainerPath(std::u16string_view deviceId, std::string_view container);

private:
    uint32_t ReadCertificateUpn(std::u16string_view path, uint32_t keySpec, std::vector<uint8_t>& cert,
                                std::u16string& upn);
    uint32_t ControlSession(uint32_t operation, const CUserLog& session, std::u16string_view path, uint32_t keySpec,
                            std::u16string_view upn, const std::vector<uint8_t>& cert);
    ShutdownOutcome Shutdown(const ShutdownRequest& request, size_t records, const RemotePhone& phone);
    // Appends the result text (as the audit row gets it) as UTF-8 with its NUL to a reply whose
    // text starts at `textOffset`, unless it is empty or longer than 8192 bytes with its NUL;
    // the reply's size.
    static size_t FinishReply(uint8_t* reply, size_t capacity, size_t textOffset, std::u16string_view text);

    Platform& m_platform;
    const Configuration& m_config;
    CDeviceKeyProof& m_proof;
    const CMessageTexts& m_texts;
    CShutdownTimer& m_timer;
    RemoteSessionHooks m_hooks;
};

}  // namespace corvane
