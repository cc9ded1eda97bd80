// Result codes as the tools print them: the hexadecimal code followed by its text from the
// service's result-text tables (the service's own codes) or the system's message table (Windows,
// CryptoAPI, smart-card and Windows Sockets codes), in the language the user's locale chooses
// as the service's does (zh_TW, zh_CN, else English).
#pragma once

#include <cstdint>
#include <string>

namespace corvane::tools {

// The text for `code` on one line: "The specified user is locked" for 0x20000014.
std::string ResultText(uint32_t code);
// " (text)" for a failed status, to follow its hexadecimal form; empty for 0, which means success.
std::string StatusTextSuffix(uint32_t status);
// A Windows Sockets code of the POSIX backend in the system's words: the errno text it stands
// for ("Connection refused" for 10061), else the code's message; empty when there is none.
std::string SocketErrorText(int wsaError);
// "error 10061: Connection refused", or "error N" when there is no text.
std::string DescribeSocketError(int wsaError);

}  // namespace corvane::tools
