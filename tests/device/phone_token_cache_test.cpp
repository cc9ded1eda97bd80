#include "device/phone_token_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "crypto/rsa.h"
#include "support/fake_clock.h"
#include "support/phone_keys.h"
#include "wire/byte_order.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kForward = PhoneTokenStatus::Forward;

Bytes Message(uint16_t code, const Bytes& payload, uint32_t status = 0) {
    Bytes out(MsgHeader::kSize);
    MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(out.data());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}
Bytes Reply(uint16_t code, const Bytes& payload, uint32_t status = 0) { return Message(code | 0x8000, payload, status); }

Bytes U32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values) {
        uint8_t b[4];
        WriteU32(b, v);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}
Bytes Name(const std::string& name) {
    Bytes out(name.begin(), name.end());
    out.push_back(0);
    return out;
}
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes PublicKey(uint32_t spec, uint32_t bits, uint8_t fill) {
    return Cat(U32s({spec, bits, 65537}), Bytes((bits + 7) / 8, fill));
}

// One entry of a container list, written out field by field.
struct ListEntry {
    uint32_t handle;
    std::string name;
    uint8_t keyVersion1 = 0, certVersion1 = 0;
    std::string upn1 {};
    uint8_t keyVersion2 = 0, certVersion2 = 0;
    std::string upn2 {};
};
Bytes ContainerList(const std::vector<ListEntry>& entries, int count = -1, uint32_t status = 0) {
    Bytes payload(18, 0x5A);
    WriteU16(payload.data() + 16, static_cast<uint16_t>(count < 0 ? entries.size() : count));
    for (const auto& e : entries) {
        payload = Cat(payload, Cat(U32s({e.handle}), Name(e.name)));
        payload = Cat(payload, Cat(Bytes {e.keyVersion1, e.certVersion1}, Name(e.upn1)));
        payload = Cat(payload, Cat(Bytes {e.keyVersion2, e.certVersion2}, Name(e.upn2)));
    }
    return Message(0x3028, payload, status);
}

struct Answer {
    uint32_t result;
    MsgHeader header;
    Bytes payload;
};

class PhoneTokenCacheTest : public ::testing::Test {
protected:
    Answer Ask(const Bytes& request) {
        uint8_t* reply = nullptr;
        size_t size = 0;
        Answer answer {cache.AnswerFromCache(request.data(), request.size(), arena, &reply, &size), {}, {}};
        if (answer.result == 0) {
            answer.header = *MsgHeader::Decode(reply, size);
            answer.payload.assign(reply + MsgHeader::kSize, reply + size);
        }
        return answer;
    }
    // What Transmit does: ask the cache, and on forward "exchange" and teach the cache.
    uint32_t Learn(const Bytes& request, const Bytes& reply) {
        return cache.UpdateCache(request.data(), request.size(), reply.data(), reply.size());
    }
    void ExpectLocal(const Bytes& request, uint32_t status, const Bytes& payload) {
        Answer answer = Ask(request);
        ASSERT_EQ(answer.result, 0u);
        MsgHeader header = MsgHeader::Decode(request.data(), request.size()).value();
        EXPECT_EQ(answer.header.code, header.code | 0x8000);
        EXPECT_EQ(answer.header.status, status);
        EXPECT_EQ(answer.payload, payload);
    }
    // The handles an enumeration from the start returns, and the result that ended it. A cursor
    // that comes back to a handle already returned ends the walk: it would go round for ever.
    std::pair<std::vector<uint32_t>, uint32_t> Enumerate() {
        std::vector<uint32_t> handles;
        uint32_t cursor = 0xFFFFFFFF;
        for (;;) {
            Answer answer = Ask(Message(0x2002, U32s({cursor})));
            if (answer.result != 0) return {handles, answer.result};
            if (answer.payload.size() < 5) return {handles, TokenError::NteBadLen};
            cursor = ReadU32(answer.payload.data());
            const bool again = std::find(handles.begin(), handles.end(), cursor) != handles.end();
            handles.push_back(cursor);
            if (again) return {handles, 0};
        }
    }
    void ListPhone(const std::vector<ListEntry>& entries) {
        Bytes list = ContainerList(entries);
        ASSERT_EQ(cache.UpdateContainerList(list.data(), list.size()), 0u);
    }

    test::FakeClock clock;
    std::string upnOfCertificate = "user@corvane.test";
    CPhoneTokenCache cache {clock, [this](const uint8_t*, size_t, std::string& upn) {
                                upn = upnOfCertificate;
                                return !upn.empty();
                            }};
    ReplyArena arena;
};

// ---- Cache filled from replies ----

TEST_F(PhoneTokenCacheTest, RepliesFillContainersKeysAndCertificatesThatAreThenAnsweredLocally) {
    Bytes create = Message(0x2001, Name("Alpha"));
    ASSERT_EQ(Ask(create).result, kForward);
    Learn(create, Reply(0x2001, U32s({7})));
    ExpectLocal(Message(0x2003, Name("ALPHA")), 0, U32s({7}));

    struct Case {
        const char* label;
        uint32_t spec;
        Bytes phoneReply;
        uint32_t localStatus;
        Bytes localPayload;
    } cases[] = {
        {"key present", 1, Reply(0x2022, PublicKey(1, 1024, 0xAB)), 0, PublicKey(1, 1024, 0xAB)},
        {"phone has no such key", 2, Reply(0x2022, {}, TokenError::NteNoKey), TokenError::NteNoKey, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes get = Message(0x2022, U32s({7, c.spec}));
        ASSERT_EQ(Ask(get).result, kForward);
        Learn(get, c.phoneReply);
        ExpectLocal(get, c.localStatus, c.localPayload);
    }

    Bytes read = Message(0x2032, U32s({7, 2}));
    ASSERT_EQ(Ask(read).result, kForward);
    Learn(read, Reply(0x2032, {}, TokenError::NteNotFound));
    ExpectLocal(read, TokenError::NteNotFound, {});
    Bytes readExchange = Message(0x2032, U32s({7, 1}));
    Learn(readExchange, Reply(0x2032, Bytes {0x30, 0x03, 1, 2, 3}));
    ExpectLocal(readExchange, 0, Bytes {0x30, 0x03, 1, 2, 3});
}

TEST_F(PhoneTokenCacheTest, AfterGenerateTheNewKeyIsServedLocallyOnlyWhenThePhoneSucceeded) {
    struct Case {
        const char* label;
        Bytes generateReply;
        bool servedLocally;
    } cases[] = {
        {"generated", Reply(0x2021, PublicKey(1, 2048, 0x77)), true},
        {"phone refused", Reply(0x2021, {}, 0x80090020), false},
        {"wrong reply code is ignored", Reply(0x2022, PublicKey(1, 2048, 0x77)), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPhoneTokenCache fresh(clock);
        Bytes create = Message(0x2001, Name("c"));
        Bytes createReply = Reply(0x2001, U32s({3}));
        fresh.UpdateCache(create.data(), create.size(), createReply.data(), createReply.size());
        Bytes get = Message(0x2022, U32s({3, 1}));
        Bytes oldKey = Reply(0x2022, PublicKey(1, 1024, 0x11));
        fresh.UpdateCache(get.data(), get.size(), oldKey.data(), oldKey.size());

        Bytes generate = Message(0x2021, U32s({3, 1, 2048, 65537}));
        uint8_t* reply = nullptr;
        size_t size = 0;
        ASSERT_EQ(fresh.AnswerFromCache(generate.data(), generate.size(), arena, &reply, &size), kForward);
        fresh.UpdateCache(generate.data(), generate.size(), c.generateReply.data(), c.generateReply.size());

        uint32_t result = fresh.AnswerFromCache(get.data(), get.size(), arena, &reply, &size);
        if (!c.servedLocally) {
            EXPECT_EQ(result, kForward);
            continue;
        }
        ASSERT_EQ(result, 0u);
        Bytes payload(reply + MsgHeader::kSize, reply + size);
        bool generated = c.generateReply[0] == 0x21;
        EXPECT_EQ(payload, generated ? PublicKey(1, 2048, 0x77) : PublicKey(1, 1024, 0x11));
    }
}

TEST_F(PhoneTokenCacheTest, ImportedKeyIsCachedFromTheRequestsPrivateKey) {
    const auto& key = test::PhoneTestKey(512);
    uint32_t derLength = 0;
    ASSERT_EQ(RsaExport(key.handle, 2, nullptr, &derLength), 0);
    Bytes der(derLength);
    ASSERT_EQ(RsaExport(key.handle, 2, der.data(), &derLength), 0);
    uint32_t modulusLength = 64;
    Bytes modulus(64);
    ASSERT_EQ(RsaExport(key.handle, 129, modulus.data(), &modulusLength), 0);

    Learn(Message(0x2001, Name("imp")), Reply(0x2001, U32s({9})));
    Bytes import = Message(0x2023, Cat(U32s({9, 2}), der));
    ASSERT_EQ(Ask(import).result, kForward);
    EXPECT_EQ(Learn(import, Reply(0x2023, {})), 0u);
    ExpectLocal(Message(0x2022, U32s({9, 2})), 0, Cat(U32s({2, 512, 65537}), modulus));

    Bytes garbled = Message(0x2023, Cat(U32s({9, 1}), Bytes {0x30, 0x80, 0xFF}));
    EXPECT_NE(Learn(garbled, Reply(0x2023, {})), 0u);
    EXPECT_EQ(Ask(Message(0x2022, U32s({9, 1}))).result, kForward);
}

TEST_F(PhoneTokenCacheTest, TokenInfoAndInitialisation) {
    Bytes info = Message(0x2041, {});
    ASSERT_EQ(Ask(info).result, kForward);
    Bytes block(16, 0xC3);
    Learn(info, Reply(0x2041, block));
    ExpectLocal(info, 0, block);
    Learn(Message(0x2001, Name("x")), Reply(0x2001, U32s({1})));

    Bytes init = Message(0x2101, Cat(Name("so"), Name("user")));
    Learn(init, Reply(0x2101, {}, 0x80090009));  // NTE_BAD_FLAGS: the token is unchanged
    ExpectLocal(info, 0, block);
    Learn(init, Reply(0x2101, {}));
    EXPECT_EQ(Ask(info).result, kForward);
    EXPECT_EQ(Ask(Message(0x2003, Name("x"))).result, kForward);
}

TEST_F(PhoneTokenCacheTest, NotificationResetClearsOnlyWhenNoChangeIsUnderWayOrRecent) {
    struct Case {
        const char* label;
        bool changeAnswered;  // the phone replied to the change before the notification
        uint32_t quietMs;     // time between that reply and the notification
        bool cleared;
    } cases[] = {
        {"change still under way", false, 60000, false},
        {"change finished 4999 ms earlier", true, 4999, false},
        {"change finished 5000 ms earlier", true, 5000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CPhoneTokenCache fresh(clock);
        Bytes create = Message(0x2001, Name("n"));
        Bytes created = Reply(0x2001, U32s({4}));
        fresh.UpdateCache(create.data(), create.size(), created.data(), created.size());
        Bytes del = Message(0x2004, U32s({99}));
        uint8_t* reply = nullptr;
        size_t size = 0;
        ASSERT_EQ(fresh.AnswerFromCache(del.data(), del.size(), arena, &reply, &size), kForward);
        if (c.changeAnswered) {
            Bytes deleted = Reply(0x2004, {});
            fresh.UpdateCache(del.data(), del.size(), deleted.data(), deleted.size());
        }
        clock.Advance(c.quietMs);
        uint32_t generation = fresh.CacheGeneration();
        fresh.ResetCacheV1();
        EXPECT_EQ(fresh.CacheGeneration(), generation + 1);
        Bytes find = Message(0x2003, Name("n"));
        EXPECT_EQ(fresh.AnswerFromCache(find.data(), find.size(), arena, &reply, &size), c.cleared ? kForward : 0u);
    }
}

// A changing request whose reply never came (or could not be read): the phone may have made the
// change, so the next question about what it could have changed goes to the phone, and the change
// no longer counts as under way.
TEST_F(PhoneTokenCacheTest, AChangeWithoutAReplyIsAskedOfThePhoneAgain) {
    Bytes cert {0x30, 0x02, 0x05, 0x00};
    struct Case {
        const char* label;
        std::function<void()> setUp;
        Bytes change;
        Bytes question;
    } cases[] = {
        {"key generated where none was",
         [this] { Learn(Message(0x2022, U32s({3, 1})), Reply(0x2022, {}, TokenError::NteNoKey)); },
         Message(0x2021, U32s({3, 1, 1024, 65537})), Message(0x2022, U32s({3, 1}))},
        {"key imported over a cached one",
         [this] { Learn(Message(0x2022, U32s({3, 2})), Reply(0x2022, PublicKey(2, 512, 1))); },
         Message(0x2023, Cat(U32s({3, 2}), Bytes {0x30, 0})), Message(0x2022, U32s({3, 2}))},
        {"certificate written where none was",
         [this] {
             Learn(Message(0x2022, U32s({3, 1})), Reply(0x2022, PublicKey(1, 512, 1)));
             Learn(Message(0x2032, U32s({3, 1})), Reply(0x2032, {}, TokenError::NteNotFound));
         },
         Message(0x2031, Cat(U32s({3, 1}), cert)), Message(0x2032, U32s({3, 1}))},
        {"container deleted", [] {}, Message(0x2004, U32s({3})), Message(0x2003, Name("c"))},
        {"token initialised",
         [this] { Learn(Message(0x2041, {}), Reply(0x2041, Bytes(16, 4))); },
         Message(0x2101, Cat(Name("so"), Name("u"))), Message(0x2041, {})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        cache.ResetOnRebind();
        Learn(Message(0x2001, Name("c")), Reply(0x2001, U32s({3})));
        Learn(Message(0x2001, Name("other")), Reply(0x2001, U32s({9})));
        c.setUp();
        ASSERT_EQ(Ask(c.question).result, 0u);
        ASSERT_EQ(Ask(c.change).result, kForward);
        cache.ForgetUnansweredChange(c.change.data(), c.change.size());
        EXPECT_EQ(Ask(c.question).result, kForward);
        // The change is over: the phone's notification a quiet while later empties the cache.
        clock.Advance(5000);
        cache.ResetCacheV1();
        EXPECT_EQ(Ask(Message(0x2003, Name("other"))).result, kForward);
    }
}

TEST_F(PhoneTokenCacheTest, AListedChangeWithoutAReplyIsAskedOfThePhoneAgain) {
    struct Case {
        const char* label;
        ListEntry listed;
        bool keyRead;
        Bytes change;
        Bytes question;
    } cases[] = {
        {"key generated where none was", {0x10, "k", 0, 0}, false, Message(0x2021, U32s({0x10, 1, 1024, 65537})),
         Message(0x2022, U32s({0x10, 1}))},
        {"key imported over a cached one", {0x10, "k", 2, 0}, true, Message(0x2023, Cat(U32s({0x10, 1}), Bytes {0x30, 0})),
         Message(0x2022, U32s({0x10, 1}))},
        {"certificate written where none was", {0x10, "k", 1, 0}, false, Message(0x2031, Cat(U32s({0x10, 1}), Bytes {0x30, 0})),
         Message(0x2032, U32s({0x10, 1}))},
        {"container deleted", {0x10, "k"}, false, Message(0x2004, U32s({0x10})), Message(0x2003, Name("k"))},
        {"token initialised", {0x10, "k"}, false, Message(0x2101, Cat(Name("so"), Name("u"))), Message(0x2041, {})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        cache.ResetOnRebind();
        ListPhone({c.listed});
        if (c.keyRead) Learn(Message(0x2022, U32s({0x10, 1})), Reply(0x2022, PublicKey(1, 512, 0x42)));
        ASSERT_EQ(Ask(c.question).result, 0u);
        ASSERT_EQ(Ask(c.change).result, kForward);
        cache.ForgetUnansweredChange(c.change.data(), c.change.size());
        EXPECT_EQ(Ask(c.question).result, kForward);
    }
}

TEST_F(PhoneTokenCacheTest, RebindClearsEvenRightAfterStart) {
    clock.SetTick(10);
    Learn(Message(0x2001, Name("r")), Reply(0x2001, U32s({4})));
    cache.ResetOnRebind();
    EXPECT_EQ(Ask(Message(0x2003, Name("r"))).result, kForward);
}

TEST_F(PhoneTokenCacheTest, MalformedMessagesAreForwardedAndNeverCached) {
    Bytes create = Message(0x2001, Name("m"));
    Bytes shortHeader(create.begin(), create.begin() + 5);
    Bytes lengthTooLong = create;
    lengthTooLong.pop_back();
    EXPECT_EQ(Ask(shortHeader).result, kForward);
    EXPECT_EQ(Ask(lengthTooLong).result, kForward);
    EXPECT_NE(Learn(create, Bytes {0x01, 0xA0}), 0u);
    EXPECT_NE(Learn(create, Reply(0x2001, U32s({1, 2}))), 0u);
    EXPECT_NE(Learn(Message(0x2022, U32s({1})), Reply(0x2022, PublicKey(1, 8, 1))), 0u);
    EXPECT_EQ(Ask(Message(0x2003, Name("m"))).result, kForward);
}

// ---- Cache that follows the phone's container lists ----

TEST_F(PhoneTokenCacheTest, EnumerationReturnsEveryContainerOnceInOrderThenNoMoreItems) {
    ListPhone({{0x30, "Zulu"}, {0x10, "alpha"}, {0x20, "Mike"}});
    Learn(Message(0x2001, Name("new")), Reply(0x2001, U32s({0x05})));
    EXPECT_TRUE(cache.ContainerListMode());

    std::vector<std::pair<uint32_t, std::string>> seen;
    uint32_t cursor = 0xFFFFFFFF;
    for (;;) {
        Answer answer = Ask(Message(0x2002, U32s({cursor})));
        if (answer.result != 0) {
            EXPECT_EQ(answer.result, 259u);
            break;
        }
        ASSERT_GE(answer.payload.size(), 5u);
        EXPECT_EQ(answer.payload.back(), 0);
        EXPECT_EQ(strlen(reinterpret_cast<const char*>(answer.payload.data() + 4)) + 5, answer.payload.size());
        cursor = ReadU32(answer.payload.data());
        seen.emplace_back(cursor, reinterpret_cast<const char*>(answer.payload.data() + 4));
        ASSERT_LE(seen.size(), 4u);
    }
    std::vector<std::pair<uint32_t, std::string>> expected {{0x30, "Zulu"}, {0x10, "alpha"}, {0x20, "Mike"}, {0x05, "new"}};
    EXPECT_EQ(seen, expected);
}

TEST_F(PhoneTokenCacheTest, AHandleThatComesBackKeepsItsFirstPlaceInTheEnumeration) {
    struct Case {
        const char* label;
        std::function<void()> deleteFive;
    } cases[] = {
        {"left out of a list", [this] { ListPhone({{7, "b"}}); }},
        {"deleted by a request", [this] { Learn(Message(0x2004, U32s({5})), Reply(0x2004, {})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        cache.ResetOnRebind();
        ListPhone({{5, "a"}, {7, "b"}});
        c.deleteFive();
        EXPECT_EQ(Enumerate(), std::make_pair(std::vector<uint32_t> {7}, 259u));
        ListPhone({{5, "a"}, {7, "b"}});
        EXPECT_EQ(Enumerate(), std::make_pair(std::vector<uint32_t> {5, 7}, 259u));
    }
}

TEST_F(PhoneTokenCacheTest, ListedContainersAreAnsweredLocallyWithoutThePhone) {
    ListPhone({{0x10, "Alpha", 1, 0, "", 0, 3, "a@b"}});
    struct Case {
        const char* label;
        Bytes request;
        uint32_t result;
        uint32_t status;
        Bytes payload;
    } cases[] = {
        {"name found, any case", Message(0x2003, Name("ALPHA")), 0, 0, U32s({0x10})},
        {"unknown name", Message(0x2003, Name("beta")), TokenError::NteNotFound, 0, {}},
        {"name without payload", Message(0x2003, Bytes {0}), TokenError::NteBadLen, 0, {}},
        {"name with bytes after its NUL", Message(0x2003, Bytes {'a', 0, 'b'}), TokenError::NteBadData, 0, {}},
        {"cursor of 3 bytes", Message(0x2002, Bytes {1, 2, 3}), TokenError::NteBadLen, 0, {}},
        {"key listed, not yet read", Message(0x2022, U32s({0x10, 1})), kForward, 0, {}},
        {"no signature key", Message(0x2022, U32s({0x10, 2})), 0, TokenError::NteNoKey, {}},
        {"key spec 3", Message(0x2022, U32s({0x10, 3})), TokenError::NteBadData, 0, {}},
        {"unknown handle", Message(0x2022, U32s({0x11, 1})), TokenError::NteBadData, 0, {}},
        {"public key request of 12 bytes", Message(0x2022, U32s({0x10, 1, 0})), TokenError::NteBadLen, 0, {}},
        {"no exchange certificate", Message(0x2032, U32s({0x10, 1})), 0, TokenError::NteNotFound, {}},
        {"certificate listed, not yet read", Message(0x2032, U32s({0x10, 2})), kForward, 0, {}},
        {"token information from the list", Message(0x2041, {}), 0, 0, Bytes(16, 0x5A)},
        {"other operations go to the phone", Message(0x2024, U32s({0x10, 1, 5})), kForward, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Answer answer = Ask(c.request);
        ASSERT_EQ(answer.result, c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(answer.header.code, ReadU16(c.request.data()) | 0x8000);
        EXPECT_EQ(answer.header.status, c.status);
        EXPECT_EQ(answer.payload, c.payload);
    }
}

TEST_F(PhoneTokenCacheTest, BadListsClearTheCacheAndTellThePhoneWhy) {
    Bytes good = ContainerList({{1, "a"}, {2, "b"}});
    Bytes truncated = good;
    truncated.resize(truncated.size() - 1);
    WriteU16(truncated.data() + 2, static_cast<uint16_t>(truncated.size() - 8));
    Bytes trailing = Cat(good, Bytes {7});
    WriteU16(trailing.data() + 2, static_cast<uint16_t>(trailing.size() - 8));
    Bytes longName = ContainerList({{1, std::string(256, 'n')}});
    struct Case {
        const char* label;
        Bytes list;
        uint32_t result;
    } cases[] = {
        {"count 3 with 2 entries", ContainerList({{1, "a"}, {2, "b"}}, 3), TokenError::NteBadData},
        {"count 1 with 2 entries", ContainerList({{1, "a"}, {2, "b"}}, 1), TokenError::NteBadData},
        {"last entry cut short", truncated, TokenError::NteBadLen},
        {"a byte after the last entry", trailing, TokenError::NteBadLen},
        {"name of 256 bytes", longName, TokenError::NteBadLen},
        {"head too short", Message(0x3028, Bytes(17, 0)), TokenError::NteBadLen},
        {"length beyond the bytes", Bytes(good.begin(), good.end() - 1), TokenError::NteBadLen},
        {"status from the phone", ContainerList({{1, "a"}}, -1, 0x80100069), 0x80100069},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ListPhone({{0x10, "kept"}});
        EXPECT_EQ(cache.UpdateContainerList(c.list.data(), c.list.size()), c.result);
        EXPECT_TRUE(cache.RawImage().empty());
        EXPECT_EQ(Ask(Message(0x2003, Name("kept"))).result, kForward);
    }
}

TEST_F(PhoneTokenCacheTest, ListsReplaceVersionsAndDropWhatChanged) {
    ListPhone({{0x10, "a", 1, 1}, {0x20, "b", 1, 0}});
    Bytes get = Message(0x2022, U32s({0x10, 1}));
    Learn(get, Reply(0x2022, PublicKey(1, 512, 0x42)));
    Bytes read = Message(0x2032, U32s({0x10, 1}));
    Learn(read, Reply(0x2032, Bytes {0x30, 0}));
    ExpectLocal(get, 0, PublicKey(1, 512, 0x42));

    // The same list again keeps everything, including what the replies taught.
    Bytes image = cache.RawImage();
    ListPhone({{0x10, "a", 2, 1, "user@corvane.test"}, {0x20, "b", 1, 0}});
    image = cache.RawImage();
    ListPhone({{0x10, "a", 2, 1, "user@corvane.test"}, {0x20, "b", 1, 0}});
    EXPECT_EQ(cache.RawImage(), image);
    ExpectLocal(read, 0, Bytes {0x30, 0});
    // The key version moved: the cached key is dropped, the certificate (same version) kept.
    EXPECT_EQ(Ask(get).result, kForward);

    // A container the list no longer names is gone, even within the same millisecond.
    ListPhone({{0x20, "b", 1, 0}});
    EXPECT_EQ(Ask(Message(0x2003, Name("a"))).result, TokenError::NteNotFound);
}

TEST_F(PhoneTokenCacheTest, KeyVersionAdvancesAndWrapsFrom255To1) {
    struct Case {
        const char* label;
        uint8_t listedVersion;
        uint8_t versionAfterGenerate;
    } cases[] = {{"ordinary", 7, 8}, {"wraps", 255, 1}, {"no key yet", 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ListPhone({{0x10, "k", c.listedVersion, 4}});
        Bytes generate = Message(0x2021, U32s({0x10, 1, 1024, 65537}));
        ASSERT_EQ(Ask(generate).result, kForward);
        ASSERT_EQ(Learn(generate, Reply(0x2021, PublicKey(1, 1024, 0x99))), 0u);
        Bytes image = cache.RawImage();
        // Entry after the 18-byte head: handle, "k\0", then key version and certificate version.
        ASSERT_GE(image.size(), 8u + 18 + 6 + 2);
        EXPECT_EQ(image[8 + 18 + 6], c.versionAfterGenerate);
        EXPECT_EQ(image[8 + 18 + 7], 0) << "a new key has no certificate";
        ExpectLocal(Message(0x2022, U32s({0x10, 1})), 0, PublicKey(1, 1024, 0x99));
    }
}

TEST_F(PhoneTokenCacheTest, StaleGenerateReplyIsIgnoredWhenAListMovedTheKeyOnTwice) {
    ListPhone({{0x10, "k", 3}});
    Bytes generate = Message(0x2021, U32s({0x10, 1, 1024, 65537}));
    ASSERT_EQ(Ask(generate).result, kForward);
    ListPhone({{0x10, "k", 5}});
    Learn(generate, Reply(0x2021, PublicKey(1, 1024, 0x99)));
    EXPECT_EQ(Ask(Message(0x2022, U32s({0x10, 1}))).result, kForward);
}

TEST_F(PhoneTokenCacheTest, WrittenCertificateIsServedAndItsUserNameGoesIntoTheImage) {
    ListPhone({{0x10, "c", 1, 0}});
    Bytes cert {0x30, 0x02, 0x05, 0x00};
    Bytes write = Message(0x2031, Cat(U32s({0x10, 1}), cert));
    ASSERT_EQ(Ask(write).result, kForward);
    ASSERT_EQ(Learn(write, Reply(0x2031, {})), 0u);
    ExpectLocal(Message(0x2032, U32s({0x10, 1})), 0, cert);
    Bytes image = cache.RawImage();
    std::string text(image.begin(), image.end());
    EXPECT_NE(text.find(std::string("\x01\x01user@corvane.test\0", 20)), std::string::npos);
    EXPECT_EQ(ReadU16(image.data() + 2), image.size() - 8);
}

TEST_F(PhoneTokenCacheTest, CreateDeleteAndInitialiseKeepTheImageCurrent) {
    ListPhone({{0x10, "a"}});
    Learn(Message(0x2001, Name("b")), Reply(0x2001, U32s({0x20})));
    ExpectLocal(Message(0x2003, Name("b")), 0, U32s({0x20}));
    EXPECT_EQ(ReadU16(cache.RawImage().data() + 8 + 16), 2);

    Learn(Message(0x2004, U32s({0x10})), Reply(0x2004, {}));
    EXPECT_EQ(Ask(Message(0x2003, Name("a"))).result, TokenError::NteNotFound);
    EXPECT_EQ(ReadU16(cache.RawImage().data() + 8 + 16), 1);

    Learn(Message(0x2101, Cat(Name("so"), Name("u"))), Reply(0x2101, {}));
    EXPECT_TRUE(cache.RawImage().empty());
    EXPECT_TRUE(cache.ContainerListMode());
    EXPECT_EQ(Ask(Message(0x2003, Name("b"))).result, kForward);
}

TEST_F(PhoneTokenCacheTest, ImageCopyIsRefusedWhenTheBufferIsTooSmall) {
    ListPhone({{0x10, "a"}});
    Bytes image = cache.RawImage();
    Bytes out(image.size() - 1, 0xEE);
    size_t size = 0;
    EXPECT_EQ(cache.CopyRawImage(out.data(), out.size(), &size), TokenError::MoreData);
    EXPECT_EQ(size, image.size());
    EXPECT_EQ(out, Bytes(image.size() - 1, 0xEE));
    out.resize(image.size());
    EXPECT_EQ(cache.CopyRawImage(out.data(), out.size(), &size), 0u);
    EXPECT_EQ(out, image);
}

}  // namespace
}  // namespace corvane
