// A network phone's session query through the service's own objects: the datagram channel hands it
// to the query handler, whose hook walks the real session table and matches each record with the
// record's own principal-name rule. A user name with dots is compared as a whole, and a DNS domain
// name reaches the session's NetBIOS domain through the trusts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configuration.h"
#include "lan_messages.h"
#include "platform/text.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/fake_sockets.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

const SockAddrIn kPhone = SockAddrIn::Inet(0xC0000207, 50123);  // 192.0.2.7

class SessionQueryService {
public:
    SessionQueryService() {
        tp.Get().sockets = &sockets;  // the replies are looked at, not sent
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        app.Config().g_pairedDevices = {u"phone-1"};
        tp.sessions.trusts = {{u"CORP", u"corp.example"}, {u"FABRIKAM", u"fabrikam.example"}};
        tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"first.last", u"CORP"));
        tp.sessions.Set(FakeSessions::UserSession(2, u"first", u"CORP", u"RDP-Tcp#3"));
        for (uint32_t id : {1u, 2u}) {
            WtsSessionNotification n;
            n.dwSessionId = id;
            objects.SessionMonitor().OnSessionChange(WTS_SESSION_LOGON, &n);
        }
    }

    // The principal names of the replies to one query.
    std::vector<std::string> Query(const std::string& principal) {
        const size_t earlier = sockets.Sent().size();
        const std::vector<uint8_t> d = lan::BuildSessionQuery("phone-1", principal);
        EXPECT_EQ(objects.DatagramChannel().DispatchDatagram(d.data(), d.size(), kPhone), 0);
        std::vector<std::string> replies;
        const auto sent = sockets.Sent();
        for (size_t i = earlier; i < sent.size(); ++i) {
            const auto reply = lan::ParseSessionQueryReply(sent[i].data);
            EXPECT_TRUE(reply);
            if (reply) replies.push_back(reply->principal + " state " + std::to_string(reply->state));
        }
        return replies;
    }

    TestPlatform tp;
    FakeSockets sockets;
    // The application (with the configuration and its mutexes) outlives the service objects.
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};
};

TEST(SessionQueryServiceTest, DottedPrincipalNamesFindTheSessionOfTheirWholeUserName) {
    using V = std::vector<std::string>;
    struct Case {
        const char* principal;
        V replies;
    };
    const Case cases[] = {
        {"first.last@corp.example", {"first.last@corp.example state 5"}},
        {"FIRST.LAST@Corp.Example", {"FIRST.LAST@Corp.Example state 5"}},
        {"first.last@CORP", {"first.last@CORP state 5"}},
        {"first@corp.example", {"first@corp.example state 5"}},
        {"first.last@fabrikam.example", {}},
        {"first.last@corp.example.org", {}},
        {"last@corp.example", {}},
        {"first.last", {}},
    };
    SessionQueryService service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.principal);
        EXPECT_EQ(service.Query(c.principal), c.replies);
    }
}

}  // namespace
}  // namespace corvane::test
