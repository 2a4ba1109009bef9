#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "reporting/result_file.hpp"

namespace vostrane {
namespace {

TEST(ResultFileEscaping, EscapesQuotesBackslashesAndControlCharacters) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"plain text.", "plain text."},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\Program Files\\App", "C:\\\\Program Files\\\\App"},
        {"\b\t\n\f\r", "\\b\\t\\n\\f\\r"},
        {"line1\r\nline2", "line1\\r\\nline2"},
        {std::string_view("\0", 1), "\\u0000"},
        {"\x01\x07\x0b\x0e\x1b\x1f", "\\u0001\\u0007\\u000b\\u000e\\u001b\\u001f"},
        // Left as they are: solidus, DEL, the first printable character, non-ASCII.
        {"a/b", "a/b"},
        {"\x7f", "\x7f"},
        {" ~", " ~"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\xFF\xC3", "\xFF\xC3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escape_json_string(c.input), c.expected) << c.input;
    }
}

TEST(ResultFileEscaping, EveryControlCharacterBecomesAnEscape) {
    for (int c = 0; c < 0x20; ++c) {
        const std::string escaped = escape_json_string(std::string(1, static_cast<char>(c)));
        ASSERT_GE(escaped.size(), 2u) << c;
        EXPECT_EQ(escaped[0], '\\') << c;
        for (const char ch : escaped) {
            EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << "raw control byte left in escape of " << c;
            EXPECT_FALSE(ch >= 'A' && ch <= 'F') << "hex digits are lowercase, " << c;
        }
    }
}

TEST(ResultFileDocument, ExactBytes) {
    struct Case {
        UpdateOutcome outcome;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"success", 0, ""}, R"({"status":"success","exitCode":0,"message":""})"},
        {{"error", 1603, "Windows Installer was not found."},
         R"({"status":"error","exitCode":1603,"message":"Windows Installer was not found."})"},
        {{"restartRequired", 3010, "Windows restart is required to finish the update."},
         R"({"status":"restartRequired","exitCode":3010,"message":"Windows restart is required to finish the update."})"},
        {{"restartInitiated", 1641, "Windows has started a restart to finish the update."},
         R"({"status":"restartInitiated","exitCode":1641,"message":"Windows has started a restart to finish the update."})"},
        {{"error", static_cast<std::int32_t>(0xC0000005u), "Windows Installer exited with code -1073741819."},
         R"({"status":"error","exitCode":-1073741819,"message":"Windows Installer exited with code -1073741819."})"},
        {{"error", INT32_MIN, ""}, R"({"status":"error","exitCode":-2147483648,"message":""})"},
        {{"error", INT32_MAX, ""}, R"({"status":"error","exitCode":2147483647,"message":""})"},
        {{"error", -1, ""}, R"({"status":"error","exitCode":-1,"message":""})"},
        {{"error", 1603, "Bad \"file\" at C:\\x\r\n\x1b\xC3\xA9/"},
         R"({"status":"error","exitCode":1603,"message":"Bad \"file\" at C:\\x\r\n\u001b)"
         "\xC3\xA9"
         R"(/"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(result_document(c.outcome), c.expected);
    }
}

}  // namespace
}  // namespace vostrane
