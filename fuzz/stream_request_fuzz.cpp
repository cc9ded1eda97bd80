// Drives the stream channel's connection loop and request table over a fake connection: the
// input is what a client sends, read by ServeStreamConnection from scripted socket receives, and
// every request is handled as on a real connection (key exchanges included) until the bytes run
// out, which the loop sees as the client closing. Plain and keyed: on a keyed connection the
// fuzzer's framed requests can be sealed under the session key first, so that the table behind
// the decryption is reached as well as the decryption's own failures.
//
// Input: byte 0 chooses the connection (bit 0 keyed with a fixed session key, bit 1 seal each
// framed request's payload before sending, bit 2 feed the bytes in pieces of 3), the rest is
// the byte stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channel/logon_report.h"
#include "channel/stream_connection.h"
#include "channel/stream_request_handler.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/file_time.h"
#include "session/logon_state.h"
#include "support/fake_sockets.h"
#include "wire/msg_header.h"

namespace {

using namespace corvane;

constexpr uint8_t kKey[kSessionKeySize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                           0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

class StepClock final : public IClock {
public:
    uint32_t GetTickCount() override { return m_tick; }
    FileTime GetSystemTimeAsFileTime() override { return UnixSecondsToFileTime(1767225600); }
    FileTime ToLocalFileTime(FileTime utc) override { return utc; }
    void Sleep(uint32_t ms) override { m_tick += ms; }

private:
    uint32_t m_tick = 1000;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

struct World {
    World() {
        platform.clock = &clock;
        platform.sockets = &sockets;
        config.g_strComputerName = u"FUZZPC";
        LogonReportHooks& hooks = reports.Hooks();
        hooks.InsertLogonResultAudit = [](const LogonResultReport& r) { Check(r.devGuid.size() <= 40); };
        hooks.WriteEventLine = [](std::u16string_view line) { Check(line.substr(0, 7) == u"Zentik:"); };
    }

    StepClock clock;
    test::FakeSockets sockets;
    Platform platform;
    Configuration config;  // null mutexes: everything runs on this one thread
    CNetDeviceTable table {clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform, config, table, devices};
    std::atomic<bool> forwardEnabled {false};
    CLogonState logonState;
    uint32_t counter = 0;
    CStreamRequestHandler handler {config,
                                   forwardEnabled,
                                   reports,
                                   table,
                                   logonState,
                                   [this](uint8_t* b, size_t n) {
                                       for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(++counter * 167);
                                       return 0u;
                                   },
                                   StreamHandlerHooks {[this] { logonState.Publish(); },
                                                       [](uint8_t* out) { std::memset(out, 0x5A, 28); }}};
};

// Each framed request of `in` with its payload encrypted under kKey (the key exchange itself
// stays plain); a trailing piece that does not frame is passed on unchanged.
std::vector<uint8_t> Seal(const uint8_t* in, size_t size) {
    auto cipher = CSessionCipher::Create(kKey);
    std::vector<uint8_t> out;
    size_t offset = 0;
    while (offset + MsgHeader::kSize <= size) {
        MsgHeader h = *MsgHeader::Decode(in + offset, MsgHeader::kSize);
        const size_t plainLength = h.length;
        if (offset + MsgHeader::kSize + plainLength > size) break;
        const uint8_t* payload = in + offset + MsgHeader::kSize;
        std::vector<uint8_t> body(payload, payload + h.length);
        if (h.code != 0x1011 && h.length != 0 && CSessionCipher::CipherSize(h.length) <= 0xFFFF) {
            body.resize(CSessionCipher::CipherSize(h.length));
            size_t sealed = 0;
            Check(cipher->Encrypt(payload, h.length, body.data(), sealed) == 0 && sealed == body.size());
            h.length = static_cast<uint16_t>(sealed);
        }
        uint8_t header[MsgHeader::kSize];
        h.Encode(header);
        out.insert(out.end(), header, header + sizeof header);
        out.insert(out.end(), body.begin(), body.end());
        offset += MsgHeader::kSize + plainLength;
    }
    out.insert(out.end(), in + offset, in + size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World w;
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    w.sockets.streamBytes = (mode & 3) == 3 ? Seal(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    w.sockets.receiveChunk = (mode & 4) ? 3 : (1 << 20);

    StreamConnectionState connection;
    if (mode & 1) {
        connection.m_pCipher = CSessionCipher::Create(kKey);
        connection.m_nSecureState = kSecureKeyed;
    }
    ServeStreamConnection(w.sockets, w.handler, 1, connection);
    // The whole stream was read: the loop ends only when the client's bytes are gone (or a
    // payload promised more than was left).
    Check(w.sockets.streamBytes.empty());
    Check(connection.m_nSecureState == kSecurePlain || connection.m_pCipher != nullptr);
    return 0;
}
