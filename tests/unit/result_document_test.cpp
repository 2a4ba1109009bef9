// The result document: written byte for byte as the application reads it, and
// read back strictly.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "json_object.hpp"
#include "result_document.hpp"

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

TEST(ResultDocument, ReadsEveryDocumentTheHelperWrites) {
    const std::vector<UpdateOutcome> outcomes = {
        {"success", 0, ""},
        {"restartRequired", 3010, "Windows restart is required to finish the update."},
        {"restartInitiated", 1641, "Windows has started a restart to finish the update."},
        {"error", 1603, "Windows Installer was not found."},
        {"error", -1073741819, "Windows Installer exited with code -1073741819."},
        {"error", 1603, "Cannot open \"C:\\x\\y.msi\":\ttab, \x1b escape, caf\xC3\xA9 / \xE2\x98\x83"},
    };
    for (const auto& outcome : outcomes) {
        const auto read = read_result_document(result_document(outcome));
        ASSERT_TRUE(read.has_value()) << read.error();
        EXPECT_EQ(*read, outcome);
        EXPECT_EQ(is_installed(*read), outcome.status != "error") << outcome.status;
    }
}

TEST(ResultDocument, RefusesADocumentTheHelperDidNotWrite) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string success = R"({"status":"success","exitCode":0,"message":""})";
    const std::vector<Case> cases = {
        {"", "expected '{' at byte 0"},
        // Cut short, as a write that failed midway leaves it.
        {success.substr(0, 30), "expected ':' at byte 30"},
        {success.substr(0, 45), "expected ',' or '}' at byte 45"},
        {R"({"status":"success","exitCode":0})", "it must hold \"status\", \"exitCode\" and \"message\", in this order"},
        {R"({"exitCode":0,"status":"success","message":""})",
         "it must hold \"status\", \"exitCode\" and \"message\", in this order"},
        {R"({"status":"success","exitCode":0,"message":"","extra":1})",
         "it must hold \"status\", \"exitCode\" and \"message\", in this order"},
        {R"({"status":"success","exitCode":"0","message":""})",
         "\"status\" and \"message\" must be strings and \"exitCode\" an integer"},
        {R"({"status":"done","exitCode":0,"message":""})", "\"done\" is not a status"},
        {R"({"status":"Success","exitCode":0,"message":""})", "\"Success\" is not a status"},
        {R"({"status":"success","exitCode":1603,"message":""})", "\"success\" goes with exit code 0"},
        {R"({"status":"restartRequired","exitCode":0,"message":""})", "\"restartRequired\" goes with exit code 3010"},
        {R"({"status":"restartInitiated","exitCode":3010,"message":""})",
         "\"restartInitiated\" goes with exit code 1641"},
        {R"({"status":"error","exitCode":2147483648,"message":""})", "\"exitCode\" is beyond 32 bits"},
        {R"({"status":"error","exitCode":-2147483649,"message":""})", "\"exitCode\" is beyond 32 bits"},
        // Valid JSON, yet not as the helper writes it.
        {R"({ "status":"success","exitCode":0,"message":""})", "it is not written as the helper writes it"},
        {success + "\n", "it is not written as the helper writes it"},
        {R"({"status":"success","exitCode":0,"message":"\u0041"})", "it is not written as the helper writes it"},
        {R"({"status":"error","exitCode":-0,"message":""})", "it is not written as the helper writes it"},
        {"\xEF\xBB\xBF" + success, "expected '{' at byte 0"},
    };
    for (const auto& c : cases) {
        const auto read = read_result_document(c.text);
        ASSERT_FALSE(read.has_value()) << c.text;
        EXPECT_EQ(read.error(), "The update result is not a valid result document: " + c.message + ".") << c.text;
    }
}

}  // namespace
}  // namespace vostrane
