// The phone stand-in's remote session requests decode as the service decodes them, and the
// printed replies show the fields the payload holds without reading past it.
#include <gtest/gtest.h>

#include "phone/remote_session_codec.h"
#include "remote_requests.h"
#include "wire/byte_order.h"

namespace corvane::phone {
namespace {

TEST(PhoneRemoteRequests, SessionControlFormsDecodeAsTheServiceReadsThem) {
    const struct {
        uint32_t operation;
        uint32_t keySpec;
        bool longForm;
        const char* container;
    } cases[] = {
        {2, 1, false, "alice"}, {1, 1, false, "x"}, {3, 2, false, "sig"}, {2, 1, true, "alice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.container);
        const std::vector<uint8_t> payload = EncodeSessionControl(c.operation, c.container, c.keySpec, c.longForm);
        SessionControlRequest decoded;
        ASSERT_EQ(DecodeSessionControl(payload.data(), payload.size(), decoded), 0u);
        EXPECT_EQ(decoded.operation, c.operation);
        EXPECT_EQ(decoded.keySpec, c.keySpec);
        EXPECT_EQ(decoded.container, c.container);
        EXPECT_EQ(decoded.longForm, c.longForm || c.keySpec != 1);
    }
}

TEST(PhoneRemoteRequests, ShutdownAndTimeQueryDecodeAsTheServiceReadsThem) {
    const std::vector<uint8_t> shutdown = EncodeShutdown(1, 600, "alice");
    ShutdownRequest request;
    ASSERT_EQ(DecodeShutdownRequest(shutdown.data(), shutdown.size(), request), 0u);
    EXPECT_EQ(request.operation, 1u);
    EXPECT_EQ(request.delaySeconds, 600u);
    EXPECT_EQ(request.keySpec, 1u);
    EXPECT_EQ(request.container, "alice");

    const std::vector<uint8_t> times = EncodeSessionTimeQuery("alice@corp.example");
    std::string upn;
    ASSERT_EQ(DecodeSessionTimeQuery(times.data(), times.size(), upn), 0u);
    EXPECT_EQ(upn, "alice@corp.example");
}

TEST(PhoneRemoteRequests, RepliesPrintTheirFieldsAndStopAtThePayloadsEnd) {
    std::vector<uint8_t> control = {2, 0, 0, 0};
    for (char ch : std::string("The specified user is locked")) control.push_back(static_cast<uint8_t>(ch));
    control.push_back(0);

    std::vector<uint8_t> shutdown(8, 0);
    WriteU32(shutdown.data(), 3);
    WriteU32(shutdown.data() + 4, 598);
    shutdown.push_back(0);

    std::vector<uint8_t> times = {1, 0, 4, 0};
    for (const char* t : {"20261211023652", "20261211023652", ""}) {
        std::string field(t);
        field.resize(15, '\0');
        times.insert(times.end(), field.begin(), field.end());
    }
    for (char ch : std::string("alice@corp.example")) times.push_back(static_cast<uint8_t>(ch));
    times.push_back(0);

    const struct {
        uint16_t code;
        uint32_t status;
        std::vector<uint8_t> payload;
        const char* text;
    } cases[] = {
        {kSessionControlCode, 0x20000014, control, "status=0x20000014 (The specified user is locked) operation=2 text=The specified user is locked"},
        {kSessionControlCode, 0x20000013, {},
         "status=0x20000013 (The specified user session was not found (user is not logged in or logged out))"},
        {kSessionControlCode, 0, {2, 0, 0}, "status=0x00000000"},
        {kShutdownCode, 0, shutdown, "status=0x00000000 operation=3 seconds=598 text="},
        {kSessionTimeCode, 0, times,
         "status=0x00000000 desktop=1 state=4 logon=20261211023652 active=20261211023652 locked= upn=alice@corp.example"},
        // A name without its NUL ends at the payload's end.
        {kSessionTimeCode, 0, std::vector<uint8_t>(times.begin(), times.end() - 9),
         "status=0x00000000 desktop=1 state=4 logon=20261211023652 active=20261211023652 locked= upn=alice@corp"},
        {kSessionTimeCode, 0x80090011, std::vector<uint8_t>(times.begin(), times.begin() + 48), "status=0x80090011 (Object was not found.)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeRemoteReply(c.code, c.status, c.payload), c.text);
    }
}

}  // namespace
}  // namespace corvane::phone
