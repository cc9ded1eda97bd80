#include "channel/remote_logoff_codec.h"

#include <cstring>

#include "platform/text.h"
#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"

namespace corvane {

bool DecodeRemoteLogoff(const uint8_t* datagram, size_t size, RemoteLogoffRequest& out) {
    using namespace RemoteLogoffLayout;
    const auto header = MsgHeader::Decode(datagram, size);
    if (!header || !header->MatchesSize(size) || size <= kContainer) return false;
    const void* nul = std::memchr(datagram + kContainer, 0, size - kContainer);
    if (!nul) return false;
    const size_t nameLength = static_cast<size_t>(static_cast<const uint8_t*>(nul) - (datagram + kContainer));
    if (header->length != kFixedPayload + nameLength + 1) return false;

    out.operation = ReadU32(datagram + kOperation);
    out.deviceIdSlot = datagram + kDeviceId;
    out.deviceId = Utf8SlotToUtf16(datagram + kDeviceId, kDeviceIdSize);
    out.containerUtf8.assign(reinterpret_cast<const char*>(datagram + kContainer), nameLength);
    out.container = Utf8ToUtf16(out.containerUtf8);
    return !out.deviceId.empty() && !out.container.empty();
}

size_t RemoteLogoffTextOffset(const RemoteLogoffRequest& request) {
    return RemoteLogoffLayout::kReplyContainer + request.containerUtf8.size() + 1;
}

uint8_t* EncodeRemoteLogoffReply(const RemoteLogoffRequest& request, std::u16string_view hostGuid, uint32_t status,
                                 ReplyArena& arena, size_t capacity, size_t& replySize) {
    using namespace RemoteLogoffLayout;
    const size_t nameSize = request.containerUtf8.size() + 1;
    const size_t textOffset = RemoteLogoffTextOffset(request);
    if (capacity < textOffset + 1 || kReplyFixedPayload + nameSize + 1 > MsgHeader::kMaxPayload) return nullptr;
    uint8_t* reply = arena.Allocate(capacity);
    if (!reply) return nullptr;
    MsgHeader::Reply(Contract::kRemoteLogoff, static_cast<uint16_t>(kReplyFixedPayload + nameSize + 1), status)
        .Encode(reply);
    WriteU32(reply + kReplyOperation, request.operation);
    std::memcpy(reply + kReplyDeviceId, request.deviceIdSlot, kDeviceIdSize);
    const std::string guid = Utf16ToUtf8(hostGuid);
    std::memcpy(reply + kReplyHostGuid, guid.data(), std::min(guid.size(), kReplyHostGuidSize - 1));
    WriteU16(reply + kReplyZero, 0);
    WriteU16(reply + kReplyContainerSize, static_cast<uint16_t>(nameSize));
    std::memcpy(reply + kReplyContainer, request.containerUtf8.data(), request.containerUtf8.size());
    // The container's NUL and the text's place hold zeros from the arena.
    replySize = textOffset + 1;
    return reply;
}

}  // namespace corvane
