#include "phone.h"

#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <thread>

#include "crypto/session_key.h"
#include "phone/device_hello.h"
#include "phone_args.h"
#include "phone_link.h"
#include "remote_requests.h"
#include "soft_token.h"
#include "status_text.h"
#include "vxble_link.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane::phone {

namespace {

constexpr uint32_t kKeyBits = 1024;
constexpr int kReplyWaitMs = 60000;
constexpr int kHelloWaitMs = 10000;
constexpr uint32_t kNteNotSupported = 0x80090029;

uint32_t OsRandom(uint8_t* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(buffer + done, size - done, 0);
        if (n <= 0) return 1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::vector<uint8_t> Message(uint16_t code, const std::vector<uint8_t>& payload, uint32_t status = 0) {
    std::vector<uint8_t> m(MsgHeader::kSize + payload.size());
    MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(m.data());
    std::copy(payload.begin(), payload.end(), m.begin() + MsgHeader::kSize);
    return m;
}

std::vector<uint8_t> Seal(CipherHandle cipher, const std::vector<uint8_t>& plain) {
    if (plain.empty() || !cipher) return plain;
    std::vector<uint8_t> out(plain.size() + kSessionPaddingMax);
    size_t n = 0;
    if (SessionEncrypt(cipher, plain.data(), plain.size(), out.data(), &n) != SessionKeyStatus::Ok) return {};
    out.resize(n);
    return out;
}

bool Open(CipherHandle cipher, const uint8_t* in, size_t size, std::vector<uint8_t>& plain) {
    plain.assign(in, in + size);
    if (size == 0 || !cipher) return true;
    size_t n = 0;
    if (SessionDecrypt(cipher, in, size, plain.data(), &n) != SessionKeyStatus::Ok) return false;
    plain.resize(n);
    return true;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", v);
    return text;
}

// The NUL-terminated texts of `data` from `at` on.
std::vector<std::string> Texts(const std::vector<uint8_t>& data, size_t at) {
    std::vector<std::string> out;
    while (at < data.size()) {
        size_t end = at;
        while (end < data.size() && data[end] != 0) ++end;
        out.emplace_back(reinterpret_cast<const char*>(data.data() + at), end - at);
        at = end + 1;
    }
    return out;
}

}  // namespace

Phone::Phone(std::string root, std::string id, std::string name, int16_t rssi)
    : m_root(std::move(root)), m_id(std::move(id)), m_name(std::move(name)), m_rssi(rssi) {}

Phone::~Phone() {
    Disconnect();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(vxble::PhoneSocketPath(m_root, m_id).c_str());
    }
    if (m_key) RsaDestroy(m_key);
}

bool Phone::Init() {
    if (const std::string reason = CheckPhoneId(m_id); !reason.empty()) {
        std::fprintf(stderr, "corvane-phone: %s\n", reason.c_str());
        return false;
    }
    if (RsaGenerate(&m_key, kKeyBits, 65537, OsRandom) != 0) {
        std::fprintf(stderr, "corvane-phone: no RSA key\n");
        return false;
    }
    uint32_t size = 0;
    RsaExport(m_key, 1, nullptr, &size);
    m_publicDer.resize(size);
    RsaExport(m_key, 1, m_publicDer.data(), &size);
    const std::string dir = vxble::LinkDir(m_root);
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') ::mkdir(dir.substr(0, at).c_str(), 0755);
    }
    m_listenFd = ListenAt(vxble::PhoneSocketPath(m_root, m_id));
    if (m_listenFd < 0) {
        const int err = errno;
        if (err == EADDRINUSE) {
            std::fprintf(stderr, "corvane-phone: phone %s is already running\n", m_id.c_str());
        } else {
            std::fprintf(stderr, "corvane-phone: cannot listen at %s: %s\n", vxble::PhoneSocketPath(m_root, m_id).c_str(),
                         std::strerror(err));
        }
        return false;
    }
    return true;
}

int Phone::Run(const std::atomic<bool>& stop) {
    std::thread listener([this, &stop] { ListenLoop(stop); });
    std::thread signal([this, &stop] { SignalLoop(stop); });
    LinkLoop(stop);
    signal.join();
    ::shutdown(m_listenFd, SHUT_RDWR);
    listener.join();
    return 0;
}

void Phone::LinkLoop(const std::atomic<bool>& stop) {
    while (!stop) {
        if (!m_away && m_passiveFd < 0) Connect();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

bool Phone::Connect() {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    const int fd = ConnectWithIntro(vxble::HostSocketPath(m_root), vxble::kKindPassive, m_id);
    if (fd < 0) return false;
    const std::vector<uint8_t> hello =
        BuildDeviceHelloRequest(m_id, m_name, "corvane-phone", m_publicDer.data(), m_publicDer.size());
    std::vector<uint8_t> reply;
    if (!SendAll(fd, Message(kHelloCode, hello).data(), MsgHeader::kSize + hello.size()) ||
        !ReadMessage(fd, reply, kHelloWaitMs)) {
        ::close(fd);
        return false;
    }
    const MsgHeader header = *MsgHeader::Decode(reply.data(), reply.size());
    DeviceHelloReply fields;
    CipherHandle cipher = nullptr;
    if (header.code != 0x8101 || header.status != 0 ||
        ParseDeviceHelloReply(reply.data() + MsgHeader::kSize, header.length, fields) != 0 ||
        UnwrapSessionKey(m_key, fields.wrappedKey, fields.wrappedKeyLength, &cipher) != SessionKeyStatus::Ok) {
        std::printf("hello failed: code 0x%04x status %s%s\n", header.code, Hex(header.status).c_str(),
                    tools::StatusTextSuffix(header.status).c_str());
        std::fflush(stdout);
        ::close(fd);
        return false;
    }
    if (m_cipher) CipherDestroy(m_cipher);
    m_cipher = cipher;
    m_passiveFd = fd;
    m_signalFd = ConnectWithIntro(vxble::HostSocketPath(m_root), vxble::kKindSignal, m_id);
    std::printf("hello ok: host %s computer %s domain %s key %u bytes\n", fields.hostGuid.c_str(),
                fields.computerName.c_str(), fields.dnsDomain.c_str(), fields.wrappedKeyLength);
    std::fflush(stdout);
    return true;
}

void Phone::Disconnect() {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    for (std::atomic<int>* fd : {&m_passiveFd, &m_signalFd}) {
        const int old = fd->exchange(-1);
        if (old >= 0) ::close(old);
    }
    if (m_cipher) CipherDestroy(m_cipher);
    m_cipher = nullptr;
}

void Phone::SignalLoop(const std::atomic<bool>& stop) {
    while (!stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const int fd = m_signalFd.load();
        if (fd < 0 || m_away) continue;
        uint8_t sample[2];
        WriteU16(sample, static_cast<uint16_t>(m_rssi.load()));
        int expected = fd;
        if (!SendAll(fd, sample, sizeof sample) && m_signalFd.compare_exchange_strong(expected, -1)) ::close(fd);
    }
}

void Phone::ListenLoop(const std::atomic<bool>& stop) {
    while (!stop) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stop) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        uint8_t intro[vxble::kIntroSize];
        char kind = 0;
        std::string id;
        if (!ReadExact(fd, intro, sizeof intro, 2000) || !vxble::ParseIntro(intro, kind, id)) {
            ::close(fd);
        } else if (kind == vxble::kKindActive) {
            std::thread([this, fd] { ServeActive(fd); }).detach();
        } else if (kind == vxble::kKindCommand) {
            std::thread([this, fd] { ServeCommand(fd); }).detach();
        } else {
            ::close(fd);
        }
    }
}

// The computer's own channel: its hello gets a session key wrapped under the host key; the
// token sub-operations (payloads encrypted with that key) are answered from the soft token; the
// logon-state and session-list messages are acknowledged; anything else is refused at once.
void Phone::ServeActive(int fd) {
    CipherHandle cipher = nullptr;
    std::vector<uint8_t> request;
    while (ReadMessage(fd, request, -1)) {
        const MsgHeader header = *MsgHeader::Decode(request.data(), request.size());
        const uint16_t replyCode = MsgHeader::ReplyCode(header.code);
        std::vector<uint8_t> reply;
        if (header.code == kHelloCode || header.code == kHelloContainerListCode) {
            DeviceHelloRequest host;
            RsaHandle hostKey = nullptr;
            uint32_t bits = 0;
            std::vector<uint8_t> wrapped;
            CipherHandle fresh = nullptr;
            if (ParseDeviceHello(request.data() + MsgHeader::kSize, header.length, host) == 0 &&
                RsaImport(&hostKey, &bits, 1, host.key, host.keyLength) == 0) {
                wrapped.resize((bits + 7) / 8);
                if (WrapNewSessionKey(hostKey, static_cast<uint32_t>(wrapped.size()), OsRandom, wrapped.data(),
                                      &fresh) != SessionKeyStatus::Ok) {
                    wrapped.clear();
                }
            }
            if (hostKey) RsaDestroy(hostKey);
            if (fresh) {
                if (cipher) CipherDestroy(cipher);
                cipher = fresh;
                reply = Message(replyCode, BuildDeviceHelloRequest(m_id, m_name, "corvane-phone", wrapped.data(),
                                                                   wrapped.size()));
            } else {
                reply = Message(replyCode, {}, 0x80090005);
            }
        } else if (header.code == 0x3016 || header.code == 0x3105) {
            reply = Message(replyCode, {});
        } else if ((header.code & 0xF000) == 0x2000) {
            reply = AnswerToken(cipher, header.code, request.data() + MsgHeader::kSize, header.length);
        } else {
            reply = Message(replyCode, {}, kNteNotSupported);
        }
        if (!SendAll(fd, reply.data(), reply.size())) break;
    }
    if (cipher) CipherDestroy(cipher);
    ::close(fd);
}

// One token sub-operation: only on a keyed channel, its data decrypted and its reply encrypted
// with the session key. The token's files are read afresh, so a pairing made while the phone runs
// is served at once.
std::vector<uint8_t> Phone::AnswerToken(CipherHandle cipher, uint16_t code, const uint8_t* sealed, size_t size) {
    const uint16_t replyCode = MsgHeader::ReplyCode(code);
    if (!cipher) return Message(replyCode, {}, TokenStatus::NteFail);
    std::vector<uint8_t> plain;
    if (!Open(cipher, sealed, size, plain)) return Message(replyCode, {}, TokenStatus::NteBadData);
    const TokenAnswer answer =
        SoftToken(PhoneDir(m_root, m_id) + "/token").Answer(code, plain.data(), plain.size());
    std::printf("token 0x%04x: status %s%s, %zu bytes\n", code, Hex(answer.status).c_str(),
                tools::StatusTextSuffix(answer.status).c_str(), answer.payload.size());
    std::fflush(stdout);
    if (answer.status != 0 || answer.payload.empty()) return Message(replyCode, {}, answer.status);
    const std::vector<uint8_t> out = Seal(cipher, answer.payload);
    if (out.empty() || out.size() > MsgHeader::kMaxPayload) return Message(replyCode, {}, TokenStatus::NteFail);
    return Message(replyCode, out);
}

void Phone::ServeCommand(int fd) {
    uint8_t sizeBytes[2];
    std::string text;
    if (ReadExact(fd, sizeBytes, 2, 5000)) {
        text.resize(ReadU16(sizeBytes));
        if (!ReadExact(fd, text.data(), text.size(), 5000)) text.clear();
    }
    std::vector<std::string> args;
    size_t at = 0;
    while (!text.empty() && at <= text.size()) {
        const size_t end = text.find('\n', at);
        args.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    const std::string answer = Command(args);
    SendAll(fd, answer.data(), answer.size());
    ::close(fd);
}

bool Phone::Request(uint16_t code, const std::vector<uint8_t>& payload, uint32_t& status,
                    std::vector<uint8_t>& reply, std::string& error) {
    std::unique_lock<std::mutex> lock(m_linkMutex);
    const int fd = m_passiveFd.load();
    if (fd < 0 || !m_cipher) {
        error = "not connected";
        return false;
    }
    const std::vector<uint8_t> sealed = Seal(m_cipher, payload);
    std::vector<uint8_t> answer;
    if (!SendAll(fd, Message(code, sealed).data(), MsgHeader::kSize + sealed.size()) ||
        !ReadMessage(fd, answer, kReplyWaitMs)) {
        error = "link lost";
        lock.unlock();
        Disconnect();
        return false;
    }
    const MsgHeader header = *MsgHeader::Decode(answer.data(), answer.size());
    status = header.status;
    if (header.code != MsgHeader::ReplyCode(code)) {
        error = "reply with code " + Hex(header.code);
        return false;
    }
    if (!Open(m_cipher, answer.data() + MsgHeader::kSize, header.length, reply)) {
        error = "reply does not decrypt";
        return false;
    }
    return true;
}

std::string Phone::Command(const std::vector<std::string>& args) {
    // The client checks its words too, but anything may connect to this socket.
    if (const std::string reason = CheckPhoneCommand(args); !reason.empty()) return "rc 2\n" + reason + "\n";
    const std::string verb = args[0];
    if (verb == "away") {
        m_away = true;
        Disconnect();
        return "rc 0\naway\n";
    }
    if (verb == "back") {
        m_away = false;
        for (int i = 0; i < 50 && m_passiveFd < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return m_passiveFd >= 0 ? "rc 0\nconnected\n" : "rc 1\nnot connected\n";
    }
    if (verb == "rssi" && args.size() == 2) {
        m_rssi = ParseRssi(args[1]).value_or(m_rssi.load());
        return "rc 0\nrssi " + args[1] + "\n";
    }

    uint16_t code = 0;
    std::vector<uint8_t> payload;
    if ((verb == "logon" || verb == "unlock" || verb == "relogon") && args.size() >= 3) {
        code = verb == "logon" ? 0x3021 : verb == "unlock" ? 0x3022 : 0x3023;
        int32_t option = 0;
        int32_t delay = 0;
        for (size_t i = 3; i + 1 < args.size(); i += 2) {
            if (args[i] == "--option") option = ParseLogonOption(args[i + 1]).value_or(0);
            if (args[i] == "--delay") delay = ParseLogonDelay(args[i + 1]).value_or(0);
        }
        payload.resize(8);
        WriteU32(payload.data(), static_cast<uint32_t>(option));
        WriteU32(payload.data() + 4, static_cast<uint32_t>(delay));
        for (const std::string& text : {args[1], args[2], m_name}) {
            payload.insert(payload.end(), text.begin(), text.end());
            payload.push_back(0);
        }
    } else if ((verb == "lock" || verb == "logoff" || verb == "disconnect") && args.size() == 2) {
        code = kSessionControlCode;
        payload = EncodeSessionControl(verb == "logoff" ? 1 : verb == "lock" ? 2 : 3, args[1]);
    } else if (verb == "shutdown" && args.size() == 4 && args[1] == "start") {
        code = kShutdownCode;
        payload = EncodeShutdown(1, ParseShutdownSeconds(args[2]).value_or(0), args[3]);
    } else if (verb == "shutdown" && args.size() == 3 && (args[1] == "cancel" || args[1] == "query")) {
        code = kShutdownCode;
        payload = EncodeShutdown(args[1] == "cancel" ? 2 : 3, 0, args[2]);
    } else if (verb == "times" && args.size() == 2) {
        code = kSessionTimeCode;
        payload = EncodeSessionTimeQuery(args[1]);
    } else if (verb == "sessions") {
        code = 0x3027;
    } else if (verb == "status") {
        code = 0x3101;
        payload = {0, 0};
    } else {
        return "rc 2\nunknown command\n";
    }

    uint32_t status = 0;
    std::vector<uint8_t> reply;
    std::string error;
    if (!Request(code, payload, status, reply, error)) return "rc 1\n" + error + "\n";
    if (code == kSessionControlCode || code == kShutdownCode || code == kSessionTimeCode) {
        return "rc " + std::string(status == 0 ? "0" : "1") + "\n" + DescribeRemoteReply(code, status, reply) + "\n";
    }
    std::string out = "rc " + std::string(status == 0 ? "0" : "1") + "\nstatus " + Hex(status) + tools::StatusTextSuffix(status) + "\n";
    if (code == 0x3101 && reply.size() >= 2) {
        out += "state " + std::to_string(ReadU16(reply.data())) + "\n";
        const std::vector<std::string> texts = Texts(reply, 2);
        if (!texts.empty()) out += "user " + texts[0] + "\n";
        for (size_t i = 1; i < texts.size(); ++i) out += "domain " + texts[i] + "\n";
    } else if (code == 0x3027 && reply.size() >= 2) {
        const size_t count = ReadU16(reply.data());
        out += "sessions " + std::to_string(count) + "\n";
        size_t at = 2;
        for (size_t i = 0; i < count && at + 26 <= reply.size(); ++i) {
            const std::vector<std::string> upn = Texts(std::vector<uint8_t>(reply.begin() + static_cast<long>(at) + 26, reply.end()), 0);
            const std::string name = upn.empty() ? "" : upn[0];
            out += "session " + name + " state " + std::to_string(reply[at + 1]) + " desktop " +
                   std::to_string(reply[at]) + "\n";
            at += 26 + name.size() + 1;
        }
    } else if (!reply.empty()) {
        for (const std::string& text : Texts(reply, 0)) {
            if (!text.empty()) out += "text " + text + "\n";
        }
    }
    return out;
}

}  // namespace corvane::phone
