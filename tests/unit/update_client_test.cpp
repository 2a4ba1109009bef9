// The client library's portable decisions: the feed manifest written and read,
// the helper's command, the update folder and what a start learns of the last
// update.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "feed_manifest.hpp"
#include "json_object.hpp"
#include "result_document.hpp"
#include "unicode.hpp"
#include "helper_command.hpp"
#include "last_update.hpp"
#include "update_folder.hpp"
#include "windows_path.hpp"

namespace vostrane {
namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kSignature = "c2lnbmF0dXJlIGJ5dGVzIGdvIGhlcmUgYW5kIGhlcmUgYW5kIGhlcmUgYW5kIGhlcmUgYW5kIGhlcmUgISE=";

// A manifest as `vostrane-sign sign --format json` prints it, with one member replaced.
std::string manifest_with(const std::string& name, const std::string& value) {
    std::vector<std::pair<std::string, std::string>> members = {
        {"version", "\"2.0.0\""},         {"sha256", "\"" + kDigest + "\""},
        {"signature", "\"" + kSignature + "\""}, {"keyId", "\"vostrane-2024\""},
        {"algorithm", "\"ed25519\""},     {"fileName", "\"App 2.0.0.msi\""},
        {"size", "3145728"},
    };
    std::string text = "{";
    for (const auto& [member, written] : members) {
        if (member == name && value.empty()) continue;
        if (text.size() > 1) text += ",";
        text += "\"" + member + "\":" + (member == name ? value : written);
    }
    return text + "}";
}
std::string signed_manifest() { return manifest_with("", ""); }

TEST(FeedManifest, ReadsWhatTheSigningToolPrints) {
    const auto manifest = read_feed_manifest(signed_manifest());
    ASSERT_TRUE(manifest.has_value()) << manifest.error();
    EXPECT_EQ(*manifest, (FeedManifest{"2.0.0", kDigest, kSignature, "vostrane-2024", "ed25519", "App 2.0.0.msi", 3145728}));
}

TEST(FeedManifest, AcceptsJsonAsFeedsRewriteIt) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"pretty-printed, members in another order",
         "{\n  \"size\": 3145728,\r\n\t\"fileName\": \"App 2.0.0.msi\",\n  \"algorithm\": \"ed25519\", \"keyId\": "
         "\"vostrane-2024\", \"signature\": \"" + kSignature + "\", \"sha256\": \"" + kDigest +
             "\", \"version\": \"2.0.0\"\n}\n"},
        {"escapes for plain characters", manifest_with("fileName", "\"App\\u0020\\u0032.0.0\\u002emsi\"")},
        {"a member of the feed's own", manifest_with("", "").insert(1, "\"releaseNotes\":\"Fixes\",")},
    };
    for (const auto& c : cases) {
        const auto manifest = read_feed_manifest(c.text);
        ASSERT_TRUE(manifest.has_value()) << c.what << ": " << manifest.error();
        EXPECT_EQ(*manifest, *read_feed_manifest(signed_manifest())) << c.what;
    }
}

TEST(FeedManifest, RefusesWhatIsNotAManifestSayingWhy) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string prefix = "The feed manifest is not valid: ";
    const std::vector<Case> cases = {
        {"", "expected '{' at byte 0"},
        {signed_manifest() + "x", "unexpected text after the object at byte 282"},
        {signed_manifest().substr(0, 40), "a string is not closed at byte 40"},
        {manifest_with("version", ""), "\"version\" is missing"},
        {manifest_with("version", "\"\""), "\"version\" must be a non-empty string"},
        {manifest_with("version", "2"), "\"version\" must be a non-empty string"},
        {manifest_with("sha256", "\"" + kDigest.substr(1) + "\""), "\"sha256\" must be 64 hex digits"},
        {manifest_with("size", ""), "\"size\" is missing"},
        {manifest_with("size", "-1"), "\"size\" must be a whole number of bytes"},
        {manifest_with("size", "\"3145728\""), "\"size\" must be a whole number of bytes"},
        {manifest_with("size", "3.5"), "a number is not an integer at byte 275"},
        {manifest_with("size", "1e6"), "a number is not an integer at byte 275"},
        {manifest_with("size", "0123"), "a number has a leading zero at byte 274"},
        {manifest_with("size", "99999999999999999999"), "a number is out of range at byte 293"},
        {manifest_with("size", "null"), "expected a string or an integer at byte 274"},
        {manifest_with("size", "[1]"), "expected a string or an integer at byte 274"},
        {"{\"version\":\"1\",\"version\":\"2\"}", "\"version\" is given twice at byte 24"},
        // A name that would lead the application's download elsewhere.
        {manifest_with("fileName", "\"..\\\\..\\\\Start Menu\\\\evil.exe\""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"sub/app.msi\""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"C:app.msi\""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"..\""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"app.msi.\""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"app.msi \""), "\"fileName\" must be a file name, not a path"},
        {manifest_with("fileName", "\"app\\u0000.msi\""), "a NUL character in a string at byte 255"},
        // Text that is not Unicode.
        {manifest_with("version", "\"2.0\xff\""), "a string is not valid UTF-8 at byte 15"},
        {manifest_with("version", "\"\\ud800\""), "an unpaired surrogate at byte 18"},
        {manifest_with("version", "\"\\udc00\""), "an unpaired surrogate at byte 18"},
        {manifest_with("version", "\"a\tb\""), "a control character in a string at byte 13"},
        {manifest_with("version", "\"\\x41\""), "an unknown escape at byte 14"},
    };
    for (const auto& c : cases) {
        const auto manifest = read_feed_manifest(c.text);
        ASSERT_FALSE(manifest.has_value()) << c.text;
        EXPECT_EQ(manifest.error(), prefix + c.message + ".") << c.text;
    }
}

TEST(FeedManifest, IsWrittenAsTheReaderReadsIt) {
    const FeedManifest manifest{"2.0.0", kDigest, kSignature, "vostrane-2024", "ed25519", "App 2.0.0.msi", 3145728};
    EXPECT_EQ(write_feed_manifest(manifest), signed_manifest());
    // Text that needs escaping comes back whole.
    FeedManifest escaped = manifest;
    escaped.version = "2.0 \"beta\" \\ \t\x01 \xc3\xa2";
    const auto written = write_feed_manifest(escaped);
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(read_feed_manifest(*written), escaped) << *written;
}

// The writer refuses each manifest the reader would refuse, with the reader's words.
TEST(FeedManifest, WriterRefusesWhatTheReaderWould) {
    struct Case {
        std::string member;  // the member changed, as the reader names it
        std::string FeedManifest::*field;
        std::string value;
        std::string message;
    };
    const std::string path = "\"fileName\" must be a file name, not a path";
    const std::vector<Case> cases = {
        {"version", &FeedManifest::version, "", "\"version\" must be a non-empty string"},
        {"signature", &FeedManifest::signature, "", "\"signature\" must be a non-empty string"},
        {"keyId", &FeedManifest::key_id, "", "\"keyId\" must be a non-empty string"},
        {"algorithm", &FeedManifest::algorithm, "", "\"algorithm\" must be a non-empty string"},
        {"fileName", &FeedManifest::file_name, "", "\"fileName\" must be a non-empty string"},
        {"sha256", &FeedManifest::sha256, kDigest.substr(1), "\"sha256\" must be 64 hex digits"},
        {"sha256", &FeedManifest::sha256, kDigest.substr(1) + "g", "\"sha256\" must be 64 hex digits"},
        {"fileName", &FeedManifest::file_name, "..\\..\\Start Menu\\evil.exe", path},
        {"fileName", &FeedManifest::file_name, "sub/app.msi", path},
        {"fileName", &FeedManifest::file_name, "C:app.msi", path},
        {"fileName", &FeedManifest::file_name, "..", path},
        {"fileName", &FeedManifest::file_name, ".", path},
        {"fileName", &FeedManifest::file_name, "app.msi.", path},
        {"fileName", &FeedManifest::file_name, "app.msi ", path},
        {"fileName", &FeedManifest::file_name, "a \"quoted\" name.msi", path},
        {"fileName", &FeedManifest::file_name, "a|b.msi", path},
        {"fileName", &FeedManifest::file_name, "a\tb.msi", path},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member + " = " + c.value);
        FeedManifest manifest = *read_feed_manifest(signed_manifest());
        manifest.*c.field = c.value;
        const auto written = write_feed_manifest(manifest);
        ASSERT_FALSE(written.has_value()) << *written;
        const std::string expected = "The feed manifest is not valid: " + c.message + ".";
        EXPECT_EQ(written.error(), expected);
        EXPECT_EQ(read_feed_manifest(manifest_with(c.member, json_string(c.value))).error(), expected);
    }
    FeedManifest too_large = *read_feed_manifest(signed_manifest());
    too_large.size = std::uint64_t{1} << 63;
    EXPECT_EQ(write_feed_manifest(too_large).error(), "The feed manifest is not valid: \"size\" must be a whole number of bytes.");
}

TEST(FlatJsonObject, DecodesEscapesToUtf8) {
    const auto members = read_flat_json_object(
        R"({"a":"\"\\\/\b\f\n\r\t","b":"\u00e9\u20AC\ud83d\ude00","c":-9223372036854775808,"d":0})");
    ASSERT_TRUE(members.has_value()) << members.error();
    ASSERT_EQ(members->size(), 4u);
    EXPECT_EQ(std::get<std::string>((*members)[0].value), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(std::get<std::string>((*members)[1].value), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(std::get<std::int64_t>((*members)[2].value), INT64_MIN);
    EXPECT_EQ(std::get<std::int64_t>((*members)[3].value), 0);
    EXPECT_FALSE(read_flat_json_object(R"({"c":9223372036854775808})").has_value());
    EXPECT_FALSE(read_flat_json_object(R"({"c":-})").has_value());
    EXPECT_TRUE(read_flat_json_object(" {} ").has_value());
    EXPECT_FALSE(read_flat_json_object("{},").has_value());
    EXPECT_FALSE(read_flat_json_object(R"({"a":"b",})").has_value());
}

// Each error names the byte where the fault lies: for text that is not UTF-8,
// the first byte of the character; for an escape, its backslash.
TEST(FlatJsonObject, RefusesNamingTheByte) {
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a byte no character starts with", "{\"a\":\"xy\x80z\"}", "a string is not valid UTF-8 at byte 8"},
        {"a character cut short by the quote", "{\"a\":\"\xC3\xA9\xE2\x82\"}", "a string is not valid UTF-8 at byte 8"},
        {"a character cut short by the end", "{\"a\":\"\xF0\x9F\x98", "a string is not valid UTF-8 at byte 6"},
        {"an overlong form", "{\"a\":\"\xC0\xAF\"}", "a string is not valid UTF-8 at byte 6"},
        {"a surrogate in UTF-8", "{\"a\":\"ok\xED\xA0\x80\"}", "a string is not valid UTF-8 at byte 8"},
        {"beyond U+10FFFF", "{\"a\":\"\xF4\x90\x80\x80\"}", "a string is not valid UTF-8 at byte 6"},
        {"in a name", "{\"\xFF\":1}", "a string is not valid UTF-8 at byte 2"},
        {"an escaped NUL", "{\"a\":\"b\\u0000c\"}", "a NUL character in a string at byte 7"},
        {"an escaped NUL in a name", "{\"\\u0000\":1}", "a NUL character in a string at byte 2"},
        // RFC 8259 white space is space, tab, line feed and carriage return alone.
        {"a form feed before the object", "\f{}", "expected '{' at byte 0"},
        {"a vertical tab between members", "{\"a\":1,\v\"b\":2}", "expected '\"' at byte 7"},
        {"a form feed before a value", "{\"a\":\f1}", "expected a string or an integer at byte 5"},
        {"a form feed after the object", "{}\f", "unexpected text after the object at byte 2"},
        {"a no-break space", "{\"a\":\xC2\xA0" "1}", "expected a string or an integer at byte 5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto members = read_flat_json_object(c.text);
        ASSERT_FALSE(members.has_value());
        EXPECT_EQ(members.error(), c.message);
    }
    EXPECT_TRUE(read_flat_json_object(" \t\r\n{ \t\r\n\"a\" \t\r\n: \t\r\n1 \t\r\n} \t\r\n").has_value());
}

// Names are checked against an ordered index: a document of many members is
// read in n log n comparisons, and a repeat is found however late it comes.
TEST(FlatJsonObject, FindsARepeatedNameAmongManyMembers) {
    std::string text = "{";
    for (int i = 0; i < 100000; ++i) text += "\"member" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    const auto distinct = read_flat_json_object(text.substr(0, text.size() - 1) + "}");
    ASSERT_TRUE(distinct.has_value()) << distinct.error();
    EXPECT_EQ(distinct->size(), 100000u);
    const auto repeated = read_flat_json_object(text + "\"member99999\":0}");
    ASSERT_FALSE(repeated.has_value());
    EXPECT_TRUE(repeated.error().starts_with("\"member99999\" is given twice at byte ")) << repeated.error();
}

const UpdateFolder kFolder(u"C:\\Users\\A B\\AppData\\Local\\Vostrane\\App Updates");

PendingUpdate pending_update() {
    return {u"C:\\Users\\A B\\AppData\\Local\\Vostrane\\App Updates\\pending\\App 2.0.0.msi",
            u"C:\\Program Files\\App\\vostrane-updater.exe", u"C:\\Program Files\\App",
            u"C:\\Program Files\\App\\App.exe"};
}

TEST(HelperCommand, CarriesTheManifestAndTheFolderFiles) {
    const auto manifest = read_feed_manifest(signed_manifest());
    ASSERT_TRUE(manifest.has_value());
    const std::u16string copy = kFolder.helper_copy_folder(0x0123456789abcdefull) + u"\\vostrane-updater.exe";
    EXPECT_EQ(copy, u"C:\\Users\\A B\\AppData\\Local\\Vostrane\\App Updates\\helper-0123456789abcdef\\"
                    u"vostrane-updater.exe");
    const auto command = helper_command(copy, pending_update_options(*manifest, pending_update(), kFolder, 4242));
    ASSERT_TRUE(command.has_value()) << command.error();
    EXPECT_EQ(command->program, copy);
    EXPECT_EQ(command->working_directory, u"C:\\Users\\A B\\AppData\\Local\\Vostrane\\App Updates\\helper-0123456789abcdef");
    EXPECT_FALSE(command->inherits_standard_handles);
    const std::u16string folder = kFolder.path();
    const std::vector<std::u16string> expected = {
        u"--parent-process-id", u"4242",
        u"--msi-path", pending_update().package_path,
        u"--install-dir", u"C:\\Program Files\\App",
        u"--app-path", u"C:\\Program Files\\App\\App.exe",
        u"--msi-log-path", folder + u"\\msi.log",
        u"--helper-log-path", folder + u"\\helper.log",
        u"--result-path", folder + u"\\result.json",
        u"--expected-sha256", utf8_to_utf16(kDigest),
        u"--expected-version", u"2.0.0",
        u"--signature", utf8_to_utf16(kSignature),
        u"--key-id", u"vostrane-2024",
        u"--signature-algorithm", u"ed25519",
    };
    EXPECT_EQ(command->arguments, expected);
    // The command line the helper gets is quoted by the helper's own rules.
    const auto line = build_command_line(*command);
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find(u" --install-dir \"C:\\Program Files\\App\" "), std::u16string::npos);
}

TEST(HelperCommand, OptionsTheHelperWouldRefuseFailBeforeTheStart) {
    const auto manifest = read_feed_manifest(signed_manifest());
    ASSERT_TRUE(manifest.has_value());
    struct Case {
        const char* what;
        PendingUpdate update;
        std::string message;
    };
    PendingUpdate quote = pending_update();
    quote.app_path = u"C:\\App\" --install-dir \"C:\\Elsewhere";
    PendingUpdate blank = pending_update();
    blank.install_dir = u"  ";
    const std::vector<Case> cases = {
        {"a quote that would add arguments", quote, "--app-path must not contain a double quote or a control character."},
        {"an empty folder", blank, "--install-dir is required."},
    };
    for (const auto& c : cases) {
        const auto command = helper_command(u"C:\\u\\helper-0\\h.exe", pending_update_options(*manifest, c.update, kFolder, 1));
        ASSERT_FALSE(command.has_value()) << c.what;
        EXPECT_EQ(command.error(), c.message) << c.what;
    }
}

TEST(UpdateFolder, HelperCopyFoldersAreKnownByTheirNameAlone) {
    EXPECT_TRUE(is_helper_copy_folder_name(final_path_component(kFolder.helper_copy_folder(0))));
    EXPECT_TRUE(is_helper_copy_folder_name(final_path_component(kFolder.helper_copy_folder(~0ull))));
    for (const std::u16string_view name : {u"helper-", u"helper-0123456789ABCDEF", u"helper-0123456789abcde",
                                           u"helper-0123456789abcdef0", u"pending", u"Helper-0123456789abcdef"}) {
        EXPECT_FALSE(is_helper_copy_folder_name(name)) << utf16_to_utf8_lossy(name);
    }
}

TEST(UpdateFolder, StartedRecordReadsBack) {
    const StartedHelper helper{4294967295u, u"C:\\Users\\\u00c5sa\\Updates\\helper-00000000000000ff\\u.exe"};
    EXPECT_EQ(read_started_record(started_record(helper)), helper);
    for (const std::string_view text : {"", "12", "12\n", "x\nC:\\a.exe", "-1\nC:\\a.exe", "4294967296\nC:\\a.exe"}) {
        EXPECT_FALSE(read_started_record(text).has_value()) << text;
    }
}

TEST(LastUpdate, WhatAStartLearnsOfTheLastUpdate) {
    const std::string success = R"({"status":"success","exitCode":0,"message":""})";
    const std::string partial = success.substr(0, 20);
    const std::string no_result = "The update ended without a result (the application did not exit in time, or Windows "
                                  "Installer could not be started); see the helper log C:\\Users\\A B\\AppData\\Local\\"
                                  "Vostrane\\App Updates\\helper.log.";
    struct Case {
        const char* what;
        bool started;
        bool running;
        std::optional<std::string> result;
        LastUpdate state;
        std::optional<std::string> outcome_or_error;  // the status, or the error
    };
    const std::vector<Case> cases = {
        {"nothing started", false, false, std::nullopt, LastUpdate::none, std::nullopt},
        {"a document from before, nothing started since", false, false, success, LastUpdate::none, std::nullopt},
        {"ended with a result", true, false, success, LastUpdate::ended, "success"},
        // The helper relaunches the application after writing its document, before it exits.
        {"relaunched while the helper ends", true, true, success, LastUpdate::ended, "success"},
        {"still installing", true, true, std::nullopt, LastUpdate::running, std::nullopt},
        {"still writing its document", true, true, partial, LastUpdate::running, std::nullopt},
        {"ended with a partial document", true, false, partial, LastUpdate::ended,
         "The update result is not a valid result document: expected '\"' at byte 20."},
        {"ended without a document", true, false, std::nullopt, LastUpdate::ended, no_result},
    };
    for (const auto& c : cases) {
        const auto report = judge_last_update(c.started, c.running, c.result, kFolder);
        EXPECT_EQ(report.state, c.state) << c.what;
        if (c.state != LastUpdate::ended) continue;
        EXPECT_EQ(report.outcome ? report.outcome->status : report.outcome.error(), c.outcome_or_error) << c.what;
    }
}

}  // namespace
}  // namespace vostrane
