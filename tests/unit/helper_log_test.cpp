#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reporting/helper_log.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

constexpr std::uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

TEST(HelperLogTimestamp, WholeSecondsSince1970RoundedDown) {
    struct Case {
        const char* name;
        std::uint64_t filetime;
        std::uint64_t expected;
    };
    const std::vector<Case> cases = {
        {"1601 itself", 0, 0},
        {"just before 1970", kUnixEpochFiletime - 1, 0},
        {"long before 1970", kUnixEpochFiletime / 2, 0},
        {"exactly 1970", kUnixEpochFiletime, 0},
        {"first tick after 1970", kUnixEpochFiletime + 1, 0},
        {"last tick of the first second", kUnixEpochFiletime + kTicksPerSecond - 1, 0},
        {"exactly one second", kUnixEpochFiletime + kTicksPerSecond, 1},
        {"2026-01-01 00:00:00 UTC", 134116992000000000ULL, 1767225600},
        {"2026-01-01 00:00:00.9999999 UTC", 134116992000000000ULL + kTicksPerSecond - 1, 1767225600},
        {"2038-01-19 03:14:08 UTC (past 32 bits signed)", kUnixEpochFiletime + 2147483648ULL * kTicksPerSecond,
         2147483648ULL},
        {"largest FILETIME", UINT64_MAX, (UINT64_MAX - kUnixEpochFiletime) / kTicksPerSecond},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unix_seconds_from_filetime(c.filetime), c.expected) << c.name;
    }
}

TEST(HelperLogLine, BracketedTimestampSpaceMessageLineFeed) {
    struct Case {
        std::uint64_t seconds;
        std::string_view message;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {1767225600, "Vostrane native updater started.", "[1767225600] Vostrane native updater started.\n"},
        {0, "before 1970", "[0] before 1970\n"},
        {UINT64_MAX, "far future", "[18446744073709551615] far future\n"},
        {5, "", "[5] \n"},
        // Messages are written byte for byte: no escaping, trimming or line-ending changes.
        {7, "first\nsecond", "[7] first\nsecond\n"},
        {7, "carriage\rreturn\r\n", "[7] carriage\rreturn\r\n\n"},
        {7, "  padded \t", "[7]   padded \t\n"},
        {7, "quote \" backslash \\ {} %s", "[7] quote \" backslash \\ {} %s\n"},
        {7, "Fehler: \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", "[7] Fehler: \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\n"},
        {7, std::string_view("nul\0inside", 10), std::string("[7] nul\0inside\n", 15)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_log_line(c.seconds, c.message), c.expected);
    }
}

TEST(HelperLogLine, LongMessagesAreNotShortened) {
    const std::string message(100000, 'x');
    const std::string line = format_log_line(1, message);
    EXPECT_EQ(line, "[1] " + message + "\n");
}

}  // namespace
}  // namespace vostrane
