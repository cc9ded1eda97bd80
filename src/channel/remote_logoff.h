// A phone on the network logs off, locks or disconnects its user's session (0x3015): the service
// reads the certificate of the named container through the companion CSP, finds the session of
// the principal it names, has the phone prove it holds the certificate's key, acts on the session
// and answers with 0xB015 to the phone's port 45452.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "config/configuration.h"
#include "pki/device_key_proof.h"
#include "platform/platform.h"
#include "session/cuser_log.h"
#include "wire/result_text.h"

namespace corvane {

struct RemoteLogoffHooks {
    // Under the session table mutex: copies the first record whose MatchesUpn accepts the name;
    // false when there is none.
    std::function<bool(std::u16string_view upn, CUserLog& copy)> FindSessionOfUpn;
};

class CRemoteLogoff {
public:
    CRemoteLogoff(Platform& platform, Configuration& config, CDeviceKeyProof& proof, const CMessageTexts& texts,
                  RemoteLogoffHooks hooks = {});
    CRemoteLogoff(const CRemoteLogoff&) = delete;
    CRemoteLogoff& operator=(const CRemoteLogoff&) = delete;

    // 0 when handled (with or without a reply), -3509 when malformed, or the Windows error of the
    // CSP and the certificate code when the certificate could not be read (then nothing is sent).
    int32_t HandleRemoteLogoff(const uint8_t* datagram, size_t size, const SockAddrIn& source);

    RemoteLogoffHooks& Hooks() { return m_hooks; }

private:
    uint32_t Act(uint32_t operation, std::u16string_view path, std::u16string_view upn, const std::vector<uint8_t>& cert);

    Platform& m_platform;
    Configuration& m_config;
    CDeviceKeyProof& m_proof;
    const CMessageTexts& m_texts;
    RemoteLogoffHooks m_hooks;
};

}  // namespace corvane
