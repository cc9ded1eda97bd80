#include "lan_messages.h"

#include <cstring>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "channel/logon_report_codec.h"
#include "wire/session_query_layout.h"
#include "channel/remote_logoff_codec.h"
#include "wire/msg_header.h"

namespace corvane::lan {

namespace {
void PutSlot(std::vector<uint8_t>& out, size_t offset, size_t slot, const std::string& text) {
    std::memcpy(out.data() + offset, text.data(), std::min(slot, text.size()));
}

std::string SlotText(const uint8_t* slot, size_t size) {
    const void* nul = std::memchr(slot, 0, size);
    return std::string(reinterpret_cast<const char*>(slot), nul ? static_cast<const uint8_t*>(nul) - slot : size);
}
}  // namespace

std::vector<uint8_t> BuildMessage(uint16_t code, const std::vector<uint8_t>& payload, uint32_t status) {
    std::vector<uint8_t> out(MsgHeader::kSize + payload.size());
    MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(out.data());
    std::copy(payload.begin(), payload.end(), out.begin() + MsgHeader::kSize);
    return out;
}

std::vector<uint8_t> BuildPresence(uint16_t code, uint16_t port, uint32_t value, const std::string& id,
                                   const std::string& name) {
    using namespace Contract;
    std::vector<uint8_t> out(kPresenceNameOffset + name.size() + 1, 0);
    MsgHeader {code, static_cast<uint16_t>(out.size() - MsgHeader::kSize), 0}.Encode(out.data());
    WriteU16(out.data() + kPresencePortOffset, port);
    WriteU32(out.data() + kPresenceValueOffset, value);
    PutSlot(out, kPresenceIdOffset, kPresenceIdSize, id);
    std::memcpy(out.data() + kPresenceNameOffset, name.data(), name.size());
    return out;
}

std::vector<uint8_t> BuildLogonReport(const LogonReportFields& f) {
    using namespace LogonReportLayout;
    std::string strings;
    const size_t userOffset = strings.size();
    strings.append(f.userName).push_back('\0');
    const size_t devNameOffset = strings.size();
    strings.append(f.devName).push_back('\0');
    const size_t errOffset = strings.size();
    strings.append(f.errMsg).push_back('\0');

    std::vector<uint8_t> out(kStringArea + strings.size(), 0);
    MsgHeader {Contract::kLogonResultReport, static_cast<uint16_t>(out.size() - MsgHeader::kSize), f.result}.Encode(
        out.data());
    WriteU32(out.data() + kResultSub, f.resultSub);
    WriteU16(out.data() + kDevType, f.devType);
    WriteU16(out.data() + kOperation, f.operation);
    PutSlot(out, kDevGuid, kIdSlot, f.devGuid);
    PutSlot(out, kSecondId, kIdSlot, f.secondId);
    PutSlot(out, kComputerName, kNameSlot, f.computerName);
    PutSlot(out, kLogonServer, kNameSlot, f.logonServer);
    WriteU16(out.data() + kUserNameOffset, static_cast<uint16_t>(userOffset));
    WriteU16(out.data() + kDevNameOffset, static_cast<uint16_t>(devNameOffset));
    WriteU16(out.data() + kErrMsgOffset, static_cast<uint16_t>(errOffset));
    WriteU32(out.data() + kLogonOption, static_cast<uint32_t>(f.logonOption));
    WriteU32(out.data() + kLogonParam, static_cast<uint32_t>(f.logonParam));
    std::memcpy(out.data() + kStringArea, strings.data(), strings.size());
    return out;
}

std::vector<uint8_t> BuildSessionQuery(const std::string& deviceId, const std::string& principal) {
    using namespace SessionQueryLayout;
    std::vector<uint8_t> out(kPrincipal + principal.size() + 1, 0);
    MsgHeader {Contract::kSessionQuery, static_cast<uint16_t>(out.size() - MsgHeader::kSize), 0}.Encode(out.data());
    PutSlot(out, kDeviceId, kDeviceIdSize, deviceId);
    std::memcpy(out.data() + kPrincipal, principal.data(), principal.size());
    return out;
}

std::optional<SessionQueryReply> ParseSessionQueryReply(const std::vector<uint8_t>& d) {
    using namespace SessionQueryLayout;
    const auto header = MsgHeader::Decode(d.data(), d.size());
    if (!header || header->code != MsgHeader::ReplyCode(Contract::kSessionQuery) || !header->MatchesSize(d.size()) ||
        d.size() <= kReplyPrincipal || d.back() != 0) {
        return std::nullopt;
    }
    SessionQueryReply r;
    r.status = header->status;
    r.state = ReadU32(d.data() + kReplyState);
    r.deviceId = SlotText(d.data() + kReplyDeviceId, kDeviceIdSize);
    r.hostGuid = SlotText(d.data() + kReplyHostGuid, kReplyHostGuidSize);
    r.computerName = SlotText(d.data() + kReplyComputerName, kReplyComputerNameSize);
    r.logonTime = static_cast<int64_t>(ReadU64(d.data() + kReplyLogonTime));
    r.activeTime = static_cast<int64_t>(ReadU64(d.data() + kReplyActiveTime));
    r.lockedTime = static_cast<int64_t>(ReadU64(d.data() + kReplyLockedTime));
    r.principal = SlotText(d.data() + kReplyPrincipal, d.size() - kReplyPrincipal);
    return r;
}

std::vector<uint8_t> BuildRemoteLogoff(uint32_t operation, const std::string& deviceId, const std::string& container) {
    using namespace RemoteLogoffLayout;
    std::vector<uint8_t> out(kContainer + container.size() + 1, 0);
    MsgHeader {Contract::kRemoteLogoff, static_cast<uint16_t>(out.size() - MsgHeader::kSize), 0}.Encode(out.data());
    WriteU32(out.data() + kOperation, operation);
    PutSlot(out, kDeviceId, kDeviceIdSize, deviceId);
    std::memcpy(out.data() + kContainer, container.data(), container.size());
    return out;
}

std::optional<RemoteLogoffReply> ParseRemoteLogoffReply(const std::vector<uint8_t>& d) {
    using namespace RemoteLogoffLayout;
    const auto header = MsgHeader::Decode(d.data(), d.size());
    if (!header || header->code != MsgHeader::ReplyCode(Contract::kRemoteLogoff) || !header->MatchesSize(d.size()) ||
        d.size() <= kReplyContainer || d.back() != 0) {
        return std::nullopt;
    }
    const size_t nameSize = ReadU16(d.data() + kReplyContainerSize);
    if (nameSize == 0 || nameSize > d.size() - kReplyContainer - 1) return std::nullopt;
    RemoteLogoffReply r;
    r.status = header->status;
    r.operation = ReadU32(d.data() + kReplyOperation);
    r.deviceId = SlotText(d.data() + kReplyDeviceId, kDeviceIdSize);
    r.hostGuid = SlotText(d.data() + kReplyHostGuid, kReplyHostGuidSize);
    r.container = SlotText(d.data() + kReplyContainer, nameSize);
    const size_t text = kReplyContainer + nameSize;
    r.text = SlotText(d.data() + text, d.size() - text);
    return r;
}

std::optional<ForwardedDatagram> ParseForwarded(const std::vector<uint8_t>& envelope) {
    const auto header = MsgHeader::Decode(envelope.data(), envelope.size());
    if (!header) return std::nullopt;
    const size_t original = MsgHeader::kSize + header->length;
    if (envelope.size() != original + SockAddrIn::kSize) return std::nullopt;
    ForwardedDatagram f;
    f.original.assign(envelope.begin(), envelope.begin() + static_cast<std::ptrdiff_t>(original));
    f.source = SockAddrIn::Decode(envelope.data() + original);
    return f;
}

}  // namespace corvane::lan
