// The operating system's message texts for the codes this service produces, as Windows gives them
// (each ends in CR LF): Windows errors, their HRESULT forms (0x8007xxxx), COM and CryptoAPI
// HRESULTs, certificate and revocation codes, smart-card codes and Windows Sockets errors. Used
// where the operating system has no message table of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

// The text for `code`, or nothing when the table does not hold it. A code 0x8007xxxx gives the
// text of Windows error xxxx.
std::optional<std::u16string_view> FindSystemMessage(uint32_t code);

}  // namespace corvane
