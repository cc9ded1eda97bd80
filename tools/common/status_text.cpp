#include "status_text.h"

#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_socket_errors.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/posix_system_messages.h"
#include "platform/text.h"
#include "wire/result_text.h"

namespace corvane::tools {

namespace {
// The system's texts end in a line end (and some in blanks); a tool prints them inside one line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}
}  // namespace

std::string ResultText(uint32_t code) {
    posix::PosixSystemMessages messages;
    const uint16_t language =
        posix::PosixSystem::LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
    const CMessageTexts texts(language, messages);
    return OneLine(Utf16ToUtf8(texts.GetResultText(code)));
}

std::string StatusTextSuffix(uint32_t status) {
    if (status == 0) return {};
    return " (" + ResultText(status) + ")";
}

std::string SocketErrorText(int wsaError) {
    if (wsaError == 0) return {};
    if (const int err = posix::WsaErrorToErrno(wsaError)) return std::strerror(err);
    std::u16string text;
    posix::PosixSystemMessages messages;
    if (messages.FormatSystemMessage(static_cast<uint32_t>(wsaError), text)) return OneLine(Utf16ToUtf8(text));
    return {};
}

std::string DescribeSocketError(int wsaError) {
    const std::string text = SocketErrorText(wsaError);
    return "error " + std::to_string(wsaError) + (text.empty() ? "" : ": " + text);
}

}  // namespace corvane::tools
