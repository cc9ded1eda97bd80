#include "channel/logon_report_codec.h"

#include <cstring>
#include <string_view>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "platform/text.h"

namespace corvane {

namespace {

// The length of the NUL-terminated string at `offset` of the payload, or false when it does not
// start and end inside the payload.
bool StringAt(const uint8_t* area, size_t areaSize, size_t offset, std::string_view& out) {
    if (offset >= areaSize) return false;
    const void* nul = std::memchr(area + offset, 0, areaSize - offset);
    if (nul == nullptr) return false;
    out = std::string_view(reinterpret_cast<const char*>(area + offset), static_cast<const uint8_t*>(nul) - (area + offset));
    return true;
}

}  // namespace

bool DecodeLogonResultReport(const uint8_t* message, size_t size, LogonResultReport& out) {
    using namespace LogonReportLayout;
    const auto header = MsgHeader::Decode(message, size);
    if (!header || !header->MatchesSize(size) || size < kStringArea) return false;

    const uint8_t* area = message + kStringArea;
    const size_t areaSize = size - kStringArea;
    std::string_view user, devName, errMsg;
    if (!StringAt(area, areaSize, ReadU16(message + kUserNameOffset), user) ||
        !StringAt(area, areaSize, ReadU16(message + kDevNameOffset), devName) ||
        !StringAt(area, areaSize, ReadU16(message + kErrMsgOffset), errMsg)) {
        return false;
    }
    if (header->length != kFixedPayload + (user.size() + 1) + (devName.size() + 1) + (errMsg.size() + 1)) return false;

    out.result = ReadU32(message + kResult);
    out.resultSub = ReadU32(message + kResultSub);
    out.devType = ReadU16(message + kDevType);
    out.operation = ReadU16(message + kOperation);
    out.devGuid = Utf8SlotToUtf16(message + kDevGuid, kIdSlot);
    out.secondId = Utf8SlotToUtf16(message + kSecondId, kIdSlot);
    out.computerName = Utf8SlotToUtf16(message + kComputerName, kNameSlot);
    out.logonServer = Utf8SlotToUtf16(message + kLogonServer, kNameSlot);
    out.userName = Utf8ToUtf16(user);
    out.devName = Utf8ToUtf16(devName);
    out.errMsg = Utf8ToUtf16(errMsg);
    out.logonOption = static_cast<int32_t>(ReadU32(message + kLogonOption));
    out.logonParam = static_cast<int32_t>(ReadU32(message + kLogonParam));
    return true;
}

}  // namespace corvane
