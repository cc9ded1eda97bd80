// The logon component's logon result report (0x3013). Offsets count from the start of the
// message (header included).
//
// Logon result report:
//    0  2 code 0x3013          4  4 result (the header's status)   8  4 result_sub
//   12  2 dev_type            14  2 operation (1 Logon, 2 Unlock, 3 Re-Logon)
//   16 40 dev_guid            56 40 second identifier (carried, not interpreted)
//   96 16 computer name      112 16 logon_server
//  128  2 user_name offset   130  2 dev_name offset   132  2 err_msg offset (from the string area)
//  134  4 logon_option       138  4 logon_param      142  . string area, three NUL-terminated strings
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

namespace LogonReportLayout {
constexpr size_t kResult = 4;
constexpr size_t kResultSub = 8;
constexpr size_t kDevType = 12;
constexpr size_t kOperation = 14;
constexpr size_t kDevGuid = 16;
constexpr size_t kSecondId = 56;
constexpr size_t kComputerName = 96;
constexpr size_t kLogonServer = 112;
constexpr size_t kUserNameOffset = 128;
constexpr size_t kDevNameOffset = 130;
constexpr size_t kErrMsgOffset = 132;
constexpr size_t kLogonOption = 134;
constexpr size_t kLogonParam = 138;
constexpr size_t kStringArea = 142;
constexpr size_t kIdSlot = 40;
constexpr size_t kNameSlot = 16;
// The payload before the string area.
constexpr size_t kFixedPayload = kStringArea - 8;  // 134
}  // namespace LogonReportLayout

struct LogonResultReport {
    uint32_t result = 0;
    uint32_t resultSub = 0;
    uint16_t devType = 0;  // 1 phone on the local network, 2 Bluetooth phone, 3 smart-card reader
    uint16_t operation = 0;
    std::u16string devGuid;
    std::u16string secondId;
    std::u16string computerName;
    std::u16string logonServer;
    std::u16string userName;
    std::u16string devName;
    std::u16string errMsg;
    int32_t logonOption = 0;
    int32_t logonParam = 0;
};

// Checks and reads a whole report of `size` bytes: size = length + 8, length = 134 + the three
// string sizes with their NULs, every offset and string inside the payload. False otherwise.
bool DecodeLogonResultReport(const uint8_t* message, size_t size, LogonResultReport& out);

}  // namespace corvane
