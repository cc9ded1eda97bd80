// The command-line words every program shares: checked numbers refuse anything that is not one
// whole number in range (without throwing), and only a lone help or version word counts as one.
// The phone stand-in's commands are checked with them before anything is sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "phone_args.h"
#include "wire/program_args.h"

namespace corvane {
namespace {

TEST(ProgramArgs, ParseIntegerTakesOnlyWholeNumbersInRange) {
    const struct {
        const char* text;
        int64_t min;
        int64_t max;
        std::optional<int64_t> expected;
    } cases[] = {
        {"0", 0, 10, 0},
        {"10", 0, 10, 10},
        {"11", 0, 10, std::nullopt},
        {"-60", -128, 127, -60},
        {"-128", -128, 127, -128},
        {"-129", -128, 127, std::nullopt},
        {"128", -128, 127, std::nullopt},
        {"-5", 0, 100, std::nullopt},
        {"-0", 0, 100, 0},
        {"0x1F", 0, 255, 31},
        {"0XfF", 0, 255, 255},
        {"0x100", 0, 255, std::nullopt},
        {"0xFFFFFFFF", 0, UINT32_MAX, UINT32_MAX},
        {"4294967296", 0, UINT32_MAX, std::nullopt},
        {"99999999999", INT32_MIN, INT32_MAX, std::nullopt},
        {"2147483647", INT32_MIN, INT32_MAX, INT32_MAX},
        {"-2147483648", INT32_MIN, INT32_MAX, INT32_MIN},
        {"9223372036854775807", INT64_MIN, INT64_MAX, INT64_MAX},
        {"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN},
        {"9223372036854775808", INT64_MIN, INT64_MAX, std::nullopt},
        {"99999999999999999999999999", INT64_MIN, INT64_MAX, std::nullopt},
        {"", 0, 10, std::nullopt},
        {"-", -10, 10, std::nullopt},
        {"0x", 0, 10, std::nullopt},
        {"abc", 0, 10, std::nullopt},
        {"12abc", 0, 100, std::nullopt},
        {" 5", 0, 10, std::nullopt},
        {"5 ", 0, 10, std::nullopt},
        {"+5", 0, 10, std::nullopt},
        {"1e3", 0, 10000, std::nullopt},
        {"-0x5", -10, 10, std::nullopt},
        {"5", 10, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseInteger(c.text, c.min, c.max), c.expected);
    }
}

TEST(ProgramArgs, OnlyALoneHelpOrVersionWordCounts) {
    const struct {
        std::vector<const char*> args;
        ProgramWord expected;
    } cases[] = {
        {{"prog", "--help"}, ProgramWord::Help},
        {{"prog", "-h"}, ProgramWord::Help},
        {{"prog", "/?"}, ProgramWord::Help},
        {{"prog", "--version"}, ProgramWord::Version},
        {{"prog"}, ProgramWord::None},
        {{"prog", "--help", "x"}, ProgramWord::None},
        {{"prog", "run", "--help"}, ProgramWord::None},
        {{"prog", "--HELP"}, ProgramWord::None},
        {{"prog", "-install"}, ProgramWord::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : "(none)");
        EXPECT_EQ(HelpOrVersionWord(static_cast<int>(c.args.size()), c.args.data()), c.expected);
    }
}

TEST(PhoneArgs, BadWordsAreRefusedWithAReason) {
    using phone::CheckPhoneCommand;
    const struct {
        std::vector<std::string> words;
        const char* reason;  // a part of the reason; null when the command is well formed
    } cases[] = {
        {{"rssi", "-60"}, nullptr},
        {{"rssi", "abc"}, "bad DBM 'abc'"},
        {{"rssi", "99999999999"}, "bad DBM"},
        {{"rssi"}, "usage: rssi DBM"},
        {{"logon", "anna", "CONTOSO", "--option", "-70", "--delay", "30"}, nullptr},
        {{"logon", "anna", "CONTOSO", "--option", "abc"}, "bad --option 'abc'"},
        {{"unlock", "anna", "CONTOSO", "--delay", "99999999999"}, "bad --delay"},
        {{"relogon", "anna", "CONTOSO", "--delay", "-1"}, "bad --delay"},
        {{"logon", "anna", "CONTOSO", "--delay"}, "--delay needs a value"},
        {{"logon", "anna", "CONTOSO", "--colour", "red"}, "unknown option '--colour'"},
        {{"logon", "anna"}, "usage: logon USER DOMAIN"},
        {{"shutdown", "start", "600", "anna"}, nullptr},
        {{"shutdown", "start", "4294967296", "anna"}, "bad SECONDS"},
        {{"shutdown", "query", "anna"}, nullptr},
        {{"shutdown", "stop", "anna"}, "usage: shutdown"},
        {{"lock", "anna"}, nullptr},
        {{"lock"}, "usage: lock CONTAINER"},
        {{"status", "extra"}, "takes no arguments"},
        {{"dance"}, "unknown command 'dance'"},
        {{}, "no command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.empty() ? "(none)" : c.words[0] + (c.words.size() > 1 ? " " + c.words[1] : ""));
        const std::string reason = CheckPhoneCommand(c.words);
        if (c.reason == nullptr) {
            EXPECT_EQ(reason, "");
        } else {
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << "one line";
        }
    }
}

TEST(PhoneArgs, PhoneIdsCannotLeaveTheLinkDirectory) {
    for (const char* good : {"phone-1", "{4B1D9F3A-6C2E-4F1B-9A7D-2E5C8B0F1A3D}", "Anna's phone"}) {
        EXPECT_EQ(phone::CheckPhoneId(good), "") << good;
    }
    for (const char* bad : {"", ".", "..", "../x", "a/b", "tab\there", "0123456789012345678901234567890123456789"}) {
        EXPECT_NE(phone::CheckPhoneId(bad), "") << bad;
    }
}

}  // namespace
}  // namespace corvane
