// A Bluetooth phone's session control (0x3025), delayed shutdown (0x3029) and session time query
// (0x3024) against the stand-in's containers and the test PKI: both request forms, the key proof
// before a session is touched, every refusal with its code and text, the event lines and audit
// rows, and the shutdown timer's start, restart, cancel and query.
#include <gtest/gtest.h>

#include <string>

#include "channel/remote_session_ops.h"
#include "phone/remote_session_support.h"
#include "pki/pki_world.h"
#include "platform/text.h"
#include "session/session_codes.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane::test {
namespace {

constexpr const char* kDevice = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
constexpr uint32_t kOtherUserLoggedOn = 0x20000024;
constexpr uint32_t kNoDelayedShutdown = 0x20000025;
constexpr uint32_t kUserNotLoggedOn = 0x20000026;
constexpr uint32_t kEarlierShutdown = 0x20000027;

struct AuditRow {
    std::u16string user;
    uint32_t operation;
    uint32_t delayOrStatus;
    std::u16string text;
};

struct Reply {
    uint16_t code = 0;
    uint32_t status = 0;
    uint32_t operation = 0;
    uint32_t seconds = 0;
    std::string text;
    size_t size = 0;
};

class RemoteSessionTest : public ::testing::Test {
protected:
    RemoteSessionTest() {
        w.platform.cspContainers = &csp;
        config.g_strComputerName = u"PC1";
        RemoteSessionHooks& h = ops.Hooks();
        h.FindSessionOfUpn = [this](std::u16string_view upn, CUserLog& copy, size_t& records) {
            records = sessions.size();
            for (const auto& s : sessions) {
                if (EqualsNoCase(s.m_strUpn, upn)) {
                    copy = s;
                    return true;
                }
            }
            return false;
        };
        h.IsKnownUpnDomain = [](std::u16string_view upn) { return upn.ends_with(u"@corp.example"); };
        h.WriteEventLine = [this](std::u16string_view line) { lines.push_back(Utf16ToUtf8(line)); };
        h.AuditSessionControl = [this](const CUserLog& s, uint32_t op, const RemotePhone& phone, uint32_t status,
                                       std::u16string_view text) {
            EXPECT_EQ(phone.deviceName, u"Pixel");
            audits.push_back({s.m_strUser, op, status, std::u16string(text)});
        };
        h.AuditShutdownRequest = [this](const CUserLog& s, uint32_t op, uint32_t delay, const RemotePhone& phone,
                                        std::u16string_view text) {
            EXPECT_EQ(phone.deviceId, Utf8ToUtf16(kDevice));
            audits.push_back({s.m_strUser, op, delay, std::u16string(text)});
        };
        Install("alice", "alice@corp.example", 0x7001);
        Install("bob", "bob@corp.example", 0x7002);
    }
    ~RemoteSessionTest() override { w.tp.threads.JoinAll(); }

    void Install(const std::string& container, const std::string& upn, long serial, const TestKey* key = nullptr) {
        LeafSpec spec;
        spec.serial = serial;
        spec.san = UpnSan(upn);
        TestPki::InstallContainer(w.tp.Root(), kDevice, container, SharedPki().MakeLeaf(spec), key);
    }
    void AddSession(const std::u16string& user, uint32_t id, int32_t state = SessionState::Active) {
        CUserLog s;
        s.m_strUser = user;
        s.m_strDomain = u"CORP";
        s.m_strUpn = user + u"@corp.example";
        s.m_nSession = static_cast<int32_t>(id);
        s.m_nState = state;
        s.m_nDesktop = 1;
        s.m_ftLogon = 134000000000000000LL;
        sessions.push_back(s);
    }

    uint32_t Send(uint16_t code, const std::vector<uint8_t>& payload, Reply& out) {
        const std::vector<uint8_t> request = Message(code, payload);
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        const uint32_t rc = ops.Handle(phone, request.data(), request.size(), arena, &reply, &size);
        out = {};
        if (rc != 0) return rc;
        EXPECT_GE(size, 8u);
        const MsgHeader header = *MsgHeader::Decode(reply, size);
        EXPECT_TRUE(header.MatchesSize(size));
        out.code = header.code;
        out.status = header.status;
        out.size = size;
        if (code == 0x3025 || code == 0x3029) {
            const size_t textAt = code == 0x3025 ? 12 : 16;
            out.operation = ReadU32(reply + 8);
            if (code == 0x3029) out.seconds = ReadU32(reply + 12);
            EXPECT_GT(size, textAt);
            EXPECT_EQ(reply[size - 1], 0);
            out.text.assign(reinterpret_cast<const char*>(reply + textAt), size - textAt - 1);
        }
        return 0;
    }
    Reply Control(const std::vector<uint8_t>& payload) {
        Reply r;
        EXPECT_EQ(Send(0x3025, payload, r), 0u);
        return r;
    }
    Reply Shutdown(uint32_t operation, uint32_t delay, const char* container = "alice") {
        Reply r;
        EXPECT_EQ(Send(0x3029, Fields({operation, delay, 1}, container), r), 0u);
        return r;
    }

    PkiWorld w;
    BluetoothPathCsp csp {w.csp};
    Configuration config;
    CMessageTexts texts {0x0409, w.tp.systemMessages};
    HeldThreads threads;
    CShutdownTimer timer {w.tp.clock, threads, [this] { return w.tp.sessions.InitiateShutdown(); }};
    CRemoteSessionOps ops {w.platform, config, w.proof, texts, timer};
    RemotePhone phone {u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", u"Pixel", {}};
    std::vector<CUserLog> sessions;
    std::vector<std::string> lines;
    std::vector<AuditRow> audits;
};

TEST_F(RemoteSessionTest, SessionControlInBothFormsProvesTheKeyAndActsOnTheSession) {
    const struct {
        const char* label;
        std::vector<uint8_t> payload;
        uint32_t keySpec;
        bool logoff;
        const char* action;
    } cases[] = {
        {"short form lock", Fields({2}, "alice"), 1, false, "Locking"},
        {"short form logoff", Fields({1}, "alice"), 1, true, "Logoff"},
        {"long form disconnect, signature key", Fields({3, 2}, "alice"), 2, false, "Disconnect"},
        {"long form logoff, exchange key", Fields({1, 1}, "alice"), 1, true, "Logoff"},
    };
    AddSession(u"alice", 4);
    size_t disconnects = 0;
    size_t logoffs = 0;
    for (const auto& c : cases) {
        lines.clear();
        audits.clear();
        csp.keySpecs.clear();
        const Reply r = Control(c.payload);
        EXPECT_EQ(r.code, 0xB025) << c.label;
        EXPECT_EQ(r.status, 0u) << c.label;
        EXPECT_EQ(r.operation, ReadU32(c.payload.data())) << c.label;
        EXPECT_EQ(r.text, "") << c.label;
        EXPECT_EQ(r.size, 8u + 5) << c.label;
        (c.logoff ? logoffs : disconnects)++;
        EXPECT_EQ(w.tp.sessions.LoggedOff().size(), logoffs) << c.label;
        EXPECT_EQ(w.tp.sessions.Disconnected().size(), disconnects) << c.label;
        // The certificate read and the key proof both use the request's key spec.
        EXPECT_EQ(csp.keySpecs, (std::vector<uint32_t> {c.keySpec, c.keySpec})) << c.label;
        EXPECT_EQ(csp.paths.back(), u"\\\\B\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\alice") << c.label;
        ASSERT_EQ(lines.size(), 1u) << c.label;
        EXPECT_EQ(lines[0], std::string("Zentik:PC1|CORP\\alice|") + c.action +
                                "|Pixel:{6B29FC40-CA47-1067-B31D-00DD010662DA}|0x00000000")
            << c.label;
        ASSERT_EQ(audits.size(), 1u) << c.label;
        EXPECT_EQ(audits[0].operation, ReadU32(c.payload.data())) << c.label;
        EXPECT_EQ(audits[0].delayOrStatus, 0u) << c.label;
    }
    EXPECT_EQ(w.tp.sessions.Disconnected(), (std::vector<uint32_t> {4, 4}));
}

TEST_F(RemoteSessionTest, SessionControlRefusalsCarryTheirCodeAndText) {
    TestKey stranger(1024);
    Install("forged", "alice@corp.example", 0x7003, &stranger);
    const struct {
        const char* label;
        const char* container;
        uint32_t operation;
        int32_t state;  // alice's session; 0: none
        uint32_t status;
        const char* text;
        bool logged;
        int signatures;
    } cases[] = {
        {"certificate of another user", "bob", 2, SessionState::Active, 0x20000013,
         "The specified user session was not found", false, 0},
        {"no session of the user", "alice", 1, 0, 0x20000013, "The specified user session was not found", false, 0},
        {"lock of a locked session, no key proof", "alice", 2, SessionState::Locked, 0x20000014,
         "The specified user is locked", true, 0},
        {"disconnect of a locked session", "alice", 3, SessionState::Locked, 0x20000014,
         "The specified user is locked", true, 0},
        {"unknown operation", "alice", 4, SessionState::Active, 0x80090005, "Bad Data.", true, 0},
        {"a phone that signs with another key", "forged", 2, SessionState::Active, 0x20000002, "", true, 1},
    };
    for (const auto& c : cases) {
        sessions.clear();
        lines.clear();
        audits.clear();
        csp.signatures = 0;
        if (c.state) AddSession(u"alice", 4, c.state);
        const Reply r = Control(Fields({c.operation}, c.container));
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(r.operation, c.operation) << c.label;
        EXPECT_NE(r.text.find(c.text), std::string::npos) << c.label << ": " << r.text;
        EXPECT_FALSE(r.text.empty()) << c.label;
        EXPECT_EQ(r.size, 8u + 4 + r.text.size() + 1) << c.label;
        EXPECT_EQ(csp.signatures, c.signatures) << c.label;
        EXPECT_EQ(lines.size(), c.logged ? 1u : 0u) << c.label;
        EXPECT_EQ(audits.size(), c.logged ? 1u : 0u) << c.label;
        if (c.logged && !lines.empty()) {
            char code[16];
            std::snprintf(code, sizeof code, "|0x%08x", c.status);
            EXPECT_TRUE(lines[0].ends_with(code)) << c.label << ": " << lines[0];
            EXPECT_EQ(audits[0].delayOrStatus, c.status) << c.label;
            EXPECT_EQ(Utf16ToUtf8(audits[0].text), Utf16ToUtf8(texts.GetResultText(c.status))) << c.label;
        }
    }
    EXPECT_TRUE(w.tp.sessions.LoggedOff().empty());
    EXPECT_TRUE(w.tp.sessions.Disconnected().empty());
}

// A system without a message for any code: every text outside the service's own range is the
// fallback with the code's number.
class NoSystemMessages final : public ISystemMessages {
public:
    bool FormatSystemMessage(uint32_t, std::u16string&) override { return false; }
};

TEST_F(RemoteSessionTest, ACodeWithoutATextKeepsItsNumberInTheReplyAsInTheAuditRow) {
    NoSystemMessages none;
    const CMessageTexts bare {0x0409, none};
    CRemoteSessionOps bareOps {w.platform, config, w.proof, bare, timer, ops.Hooks()};
    const struct {
        const char* label;
        uint16_t code;
        std::vector<uint8_t> payload;
        uint32_t status;
        const char* text;
    } cases[] = {
        {"logoff failing with a code of the service's range without a text", 0x3025, Fields({1}, "alice"),
         0x20000099, "Unknown Error! : 536871065[0x20000099]"},
        {"disconnect failing with a code the system has no message for", 0x3025, Fields({3}, "alice"), 0x0000ABCD,
         "Unknown Error! : 43981[0x0000abcd]"},
        {"shutdown whose countdown cannot start", 0x3029, Fields({1, 60, 1}, "alice"), 8,
         "Unknown Error! : 8[0x00000008]"},
    };
    AddSession(u"alice", 4);
    w.tp.sessions.logoffError = 0x20000099;
    w.tp.sessions.disconnectError = 0x0000ABCD;
    threads.failCreate = true;
    for (const auto& c : cases) {
        audits.clear();
        const std::vector<uint8_t> request = Message(c.code, c.payload);
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t size = 0;
        ASSERT_EQ(bareOps.Handle(phone, request.data(), request.size(), arena, &reply, &size), 0u) << c.label;
        EXPECT_EQ(ReadU32(reply + 4), c.status) << c.label;
        const size_t textAt = c.code == 0x3025 ? 12 : 16;
        ASSERT_GT(size, textAt) << c.label;
        EXPECT_EQ(reply[size - 1], 0) << c.label;
        const std::string text(reinterpret_cast<const char*>(reply + textAt), size - textAt - 1);
        EXPECT_EQ(text, c.text) << c.label;
        ASSERT_EQ(audits.size(), 1u) << c.label;
        EXPECT_EQ(Utf16ToUtf8(audits[0].text), text) << c.label;
    }
}

TEST_F(RemoteSessionTest, MalformedRequestsAndUnreadableCertificatesGetTheBareErrorAndLeaveNoTrace) {
    AddSession(u"alice", 4);
    std::vector<uint8_t> noNul = Fields({2}, "alice");
    noNul.pop_back();
    std::vector<uint8_t> nulInside = Fields({2, 1}, "alice");
    nulInside[9] = 0;
    const struct {
        const char* label;
        uint16_t code;
        std::vector<uint8_t> payload;
        uint32_t error;
    } cases[] = {
        {"control: operation only", 0x3025, Fields({2}, nullptr), 0x80090004},
        {"control: name without its NUL", 0x3025, noNul, 0x80090004},
        {"control: fits neither form", 0x3025, nulInside, 0x80090004},
        {"control: key spec 3", 0x3025, Fields({2, 3}, "alice"), 0x80090005},
        {"control: key spec 0", 0x3025, Fields({2, 0}, "alice"), 0x80090005},
        {"control: container the phone does not have", 0x3025, Fields({2}, "carol"), 0x80090016},
        {"shutdown: 12 bytes", 0x3029, Fields({1, 60, 1}, nullptr), 0x80090004},
        {"shutdown: key spec 5", 0x3029, Fields({1, 60, 5}, "alice"), 0x80090005},
        {"shutdown: container the phone does not have", 0x3029, Fields({1, 60, 1}, "carol"), 0x80090016},
        {"time query: empty", 0x3024, {}, 0x80090004},
        {"time query: without its NUL", 0x3024, {'a', 'b'}, 0x80090004},
    };
    for (const auto& c : cases) {
        Reply r;
        EXPECT_EQ(Send(c.code, c.payload, r), c.error) << c.label;
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(audits.empty());
    EXPECT_EQ(threads.Count(), 0u);
    EXPECT_TRUE(w.tp.sessions.Disconnected().empty());
}

TEST_F(RemoteSessionTest, ShutdownStartsRestartsWithAShorterDelayAndRefusesALongerOne) {
    AddSession(u"alice", 4);
    int repliesAsked = 0;
    phone.IsReplySent = [&] {
        ++repliesAsked;
        return true;
    };
    const uint32_t first = w.tp.clock.GetTickCount();
    Reply r = Shutdown(1, 60);
    EXPECT_EQ(r.code, 0xB029);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.seconds, 60u);
    EXPECT_EQ(r.size, 8u + 9);
    ASSERT_EQ(threads.Count(), 1u);

    w.tp.clock.Advance(10000);
    const uint32_t restart = w.tp.clock.GetTickCount();
    r = Shutdown(1, 30);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.seconds, 30u);
    EXPECT_EQ(threads.Count(), 1u);  // the running countdown was restarted, no second one

    w.tp.clock.Advance(4000);
    r = Shutdown(1, 120);
    EXPECT_EQ(r.status, kEarlierShutdown);
    EXPECT_EQ(r.seconds, 26u);
    EXPECT_EQ(r.text, "An earlier shutdown exists");

    lines.clear();
    audits.clear();
    r = Shutdown(3, 0);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.seconds, 26u);
    EXPECT_TRUE(lines.empty());  // queries are neither logged nor audited
    EXPECT_TRUE(audits.empty());

    // The countdown runs out 30 s after the restart, and the machine is shut down once; its
    // worker first asked whether the phone's reply had gone out.
    uint32_t shutdownTick = 0;
    CShutdownTimer* t = &timer;
    threads.bodies[0]();
    EXPECT_GT(repliesAsked, 0);
    shutdownTick = w.tp.clock.GetTickCount();
    EXPECT_EQ(t->State(), ShutdownTimerState::ShutdownStarted);
    EXPECT_EQ(w.tp.sessions.shutdowns, 1);
    EXPECT_GE(shutdownTick - restart, 30000u);
    EXPECT_LT(shutdownTick - restart, 30000u + 2100u);
    EXPECT_GE(shutdownTick - first, 40000u);
}

TEST_F(RemoteSessionTest, ShutdownLinesAndRowsAndRefusals) {
    AddSession(u"alice", 4);
    Reply r = Shutdown(1, 60);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Zentik:PC1|alice@corp.example|Shutdown(60)|Pixel:{6B29FC40-CA47-1067-B31D-00DD010662DA}|"
                        "0x00000000");
    ASSERT_EQ(audits.size(), 1u);
    EXPECT_EQ(audits[0].operation, 1u);
    EXPECT_EQ(audits[0].delayOrStatus, 60u);

    // A cancel whose countdown has not begun its checks stops it itself; the seconds left are reported.
    w.tp.clock.Advance(5000);
    r = Shutdown(2, 0);
    EXPECT_EQ(r.status, 0u);
    EXPECT_LE(r.seconds, 55u);
    EXPECT_GE(r.seconds, 44u);
    EXPECT_EQ(timer.State(), ShutdownTimerState::Cancelled);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].starts_with("Zentik:PC1|alice@corp.example|Cancel Shutdown(")) << lines[1];
    threads.bodies[0]();
    EXPECT_EQ(w.tp.sessions.shutdowns, 0);

    const struct {
        const char* label;
        uint32_t operation;
        int sessionCount;
        const char* container;
        uint32_t status;
        bool logged;
    } cases[] = {
        {"cancel without a countdown", 2, 1, "alice", kNoDelayedShutdown, true},
        {"query without a countdown", 3, 1, "alice", kNoDelayedShutdown, false},
        {"other users are logged on", 1, 2, "alice", kOtherUserLoggedOn, true},
        {"user not logged on", 1, 1, "bob", kUserNotLoggedOn, false},
        {"unknown operation", 9, 1, "alice", 0x80090005, true},
    };
    for (const auto& c : cases) {
        sessions.clear();
        AddSession(u"alice", 4);
        if (c.sessionCount == 2) AddSession(u"carol", 5);
        lines.clear();
        audits.clear();
        r = Shutdown(c.operation, 45, c.container);
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(r.seconds, 45u) << c.label;
        EXPECT_FALSE(r.text.empty()) << c.label;
        EXPECT_EQ(lines.size(), c.logged ? 1u : 0u) << c.label;
        EXPECT_EQ(audits.size(), c.logged ? 1u : 0u) << c.label;
    }
    EXPECT_EQ(threads.Count(), 1u);
    EXPECT_EQ(w.tp.sessions.shutdowns, 0);
}

TEST_F(RemoteSessionTest, SessionTimeQuery) {
    AddSession(u"alice", 4);
    Reply r;
    ASSERT_EQ(Send(0x3024, Fields({}, "Alice@corp.example"), r), 0u);
    EXPECT_EQ(r.code, 0xB024);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.size, 8u + 50 + 18);

    const struct {
        const char* label;
        const char* upn;
        uint32_t error;
    } cases[] = {
        {"domain of no trust", "alice@elsewhere.example", 0x20000021},
        {"no session", "bob@corp.example", 0x80090011},
    };
    for (const auto& c : cases) EXPECT_EQ(Send(0x3024, Fields({}, c.upn), r), c.error) << c.label;
}

}  // namespace
}  // namespace corvane::test
