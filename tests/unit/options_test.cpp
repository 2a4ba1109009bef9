#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "options.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

// The option names in the order their fields are read.
const std::vector<std::string> kOptionNames = {
    "parent-process-id", "msi-path",        "install-dir",     "app-path",
    "msi-log-path",      "helper-log-path", "result-path",     "expected-sha256",
    "expected-version",  "signature",       "key-id",          "signature-algorithm",
};

using Arguments = std::vector<std::string>;

Arguments complete_arguments() {
    return {
        "--parent-process-id", "4242",
        "--msi-path", "C:\\Users\\A B\\AppData\\Local\\Temp\\update.msi",
        "--install-dir", "C:\\Program Files\\Vostrane",
        "--app-path", "C:\\Program Files\\Vostrane\\Vostrane.exe",
        "--msi-log-path", "C:\\Temp\\msi.log",
        "--helper-log-path", "C:\\Temp\\helper.log",
        "--result-path", "C:\\Temp\\result.json",
        "--expected-sha256", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
        "--expected-version", "1.2.3",
        "--signature", "c2lnbmF0dXJl",
        "--key-id", "vostrane-2024",
        "--signature-algorithm", "ed25519",
    };
}

// The arguments with the name/value pair of `name` removed.
Arguments without(Arguments arguments, const std::string& name) {
    const auto key = std::ranges::find(arguments, "--" + name);
    if (key != arguments.end()) arguments.erase(key, key + 2);
    return arguments;
}

Arguments plus(Arguments arguments, const Arguments& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

Arguments with_value(const std::string& name, const std::string& value) {
    return plus(without(complete_arguments(), name), {"--" + name, value});
}

// What a caller of the helper builds from options is what the helper reads
// back: the complete arguments, byte for byte, and non-ASCII paths unchanged.
TEST(OptionArguments, AreTheCompleteArgumentsParseOptionsReadsBack) {
    const auto options = parse_options(complete_arguments());
    ASSERT_TRUE(options.has_value()) << options.error();
    Arguments written;
    for (const auto& argument : option_arguments(*options)) written.push_back(*utf16_to_utf8(argument));
    EXPECT_EQ(written, complete_arguments());

    const auto non_ascii = parse_options(with_value("app-path", "C:\\Programme\\Vostr\u00e4ne \u2603\\app.exe"));
    ASSERT_TRUE(non_ascii.has_value()) << non_ascii.error();
    Arguments again;
    for (const auto& argument : option_arguments(*non_ascii)) again.push_back(*utf16_to_utf8(argument));
    EXPECT_EQ(parse_options(again), non_ascii);
}

TEST(OptionsParse, ReadsAllTwelveFields) {
    const auto options = parse_options(complete_arguments());
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->parent_process_id, 4242u);
    EXPECT_EQ(options->msi_path, u"C:\\Users\\A B\\AppData\\Local\\Temp\\update.msi");
    EXPECT_EQ(options->install_dir, u"C:\\Program Files\\Vostrane");
    EXPECT_EQ(options->app_path, u"C:\\Program Files\\Vostrane\\Vostrane.exe");
    EXPECT_EQ(options->msi_log_path, u"C:\\Temp\\msi.log");
    EXPECT_EQ(options->helper_log_path, u"C:\\Temp\\helper.log");
    EXPECT_EQ(options->result_path, u"C:\\Temp\\result.json");
    EXPECT_EQ(options->expected_sha256, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_EQ(options->expected_version, "1.2.3");
    EXPECT_EQ(options->signature, "c2lnbmF0dXJl");
    EXPECT_EQ(options->key_id, "vostrane-2024");
    EXPECT_EQ(options->signature_algorithm, "ed25519");
}

TEST(OptionsParse, OrderOfArgumentsDoesNotMatter) {
    Arguments reversed;
    const Arguments arguments = complete_arguments();
    for (std::size_t i = arguments.size(); i >= 2; i -= 2) {
        reversed.insert(reversed.end(), {arguments[i - 2], arguments[i - 1]});
    }
    const auto options = parse_options(reversed);
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_TRUE(*options == *parse_options(complete_arguments()));
}

// Each field is trimmed of white space at both ends and nothing else.
TEST(OptionsParse, TrimsEveryValue) {
    const std::string around = " \t\xE3\x80\x80\xC2\x85";  // space, tab, U+3000, U+0085
    Arguments arguments;
    const Arguments complete = complete_arguments();
    for (std::size_t i = 0; i < complete.size(); i += 2) {
        arguments.insert(arguments.end(), {complete[i], around + complete[i + 1] + around});
    }
    const auto options = parse_options(arguments);
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_TRUE(*options == *parse_options(complete_arguments()));
}

TEST(OptionsParse, ValuesKeepInnerTextAndCase) {
    const auto options = parse_options(with_value("signature", "  Ab+/ cD==\t x  "));
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->signature, "Ab+/ cD==\t x");
}

TEST(OptionsParse, ExpectedSha256IsLowerCasedInAsciiOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF",
         "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
        // No check of form here: a wrong value just never matches the digest.
        {"XYZ", "xyz"},
        {" AbC-\xC3\x89 ", "abc-\xC3\x89"},
    };
    for (const auto& [given, stored] : cases) {
        SCOPED_TRACE(given);
        const auto options = parse_options(with_value("expected-sha256", given));
        ASSERT_TRUE(options.has_value()) << options.error();
        EXPECT_EQ(options->expected_sha256, stored);
    }
}

struct AcceptedCase {
    std::string what;
    Arguments arguments;
    std::string expected_msi_path;
};

TEST(OptionsParse, AcceptsTheseArgumentForms) {
    const std::string msi_path = complete_arguments()[3];
    const Arguments no_msi_path = without(complete_arguments(), "msi-path");
    const std::vector<AcceptedCase> cases = {
        {"white space around the name", plus(no_msi_path, {" --msi-path\t", "a.msi"}), "a.msi"},
        {"every leading pair of dashes removed", plus(no_msi_path, {"----msi-path", "a.msi"}), "a.msi"},
        {"an option given twice: the last wins", plus(complete_arguments(), {"--msi-path", "b.msi"}), "b.msi"},
        {"a value that looks like a name", plus(no_msi_path, {"--msi-path", "--install-dir"}), "--install-dir"},
        {"unknown names ignored",
         plus(complete_arguments(), {"--MSI-PATH", "x", "--unknown", "y", "--", "z", "--msi-path=C:\\p.msi", "w"}),
         msi_path},
    };
    for (const auto& [what, arguments, expected_msi_path] : cases) {
        SCOPED_TRACE(what);
        const auto options = parse_options(arguments);
        ASSERT_TRUE(options.has_value()) << options.error();
        EXPECT_EQ(options->msi_path, utf8_to_utf16(expected_msi_path));
    }
}

// "--msi-path --install-dir" takes the second as a value, so the pair after it
// starts afresh.
TEST(OptionsParse, ValueThatLooksLikeANameDoesNotShiftThePairs) {
    const auto options =
        parse_options(plus(without(complete_arguments(), "msi-path"), {"--msi-path", "--install-dir", "--key-id", "k"}));
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->msi_path, u"--install-dir");
    EXPECT_EQ(options->install_dir, u"C:\\Program Files\\Vostrane");
    EXPECT_EQ(options->key_id, "k");
}

struct FailureCase {
    std::string what;
    Arguments arguments;
    std::string message;
};

void expect_failures(const std::vector<FailureCase>& cases) {
    for (const auto& [what, arguments, message] : cases) {
        SCOPED_TRACE(what);
        const auto options = parse_options(arguments);
        ASSERT_FALSE(options.has_value());
        EXPECT_EQ(options.error(), message);
    }
}

TEST(OptionsParse, RejectsMalformedPairs) {
    const Arguments complete = complete_arguments();
    expect_failures({
        {"a lone trailing name", plus(complete, {"--result-path"}), "Missing value for --result-path"},
        {"a trailing name is trimmed", plus(complete, {" --result-path\t"}), "Missing value for --result-path"},
        {"a trailing name without dashes", plus(complete, {"result.json"}), "Unexpected argument: result.json"},
        {"the trimmed key is reported", plus(complete, {" result.json ", "x"}), "Unexpected argument: result.json"},
        {"a single dash", {"-msi-path", "x"}, "Unexpected argument: -msi-path"},
        {"a lone dash", {"-", "x"}, "Unexpected argument: -"},
        {"an empty name argument", {"", "x"}, "Unexpected argument: "},
        {"a name of white space", {" \xE3\x80\x80"}, "Unexpected argument: "},
        {"a dash and a non-dash", {"-\xE2\x80\x93msi-path", "x"}, "Unexpected argument: -\xE2\x80\x93msi-path"},
        {"the scan stops at the first failure", {"--msi-path", "x", "msi", "y", "--z"}, "Unexpected argument: msi"},
        {"a pair failure comes before missing options", {"--key-id"}, "Missing value for --key-id"},
    });
}

TEST(OptionsParse, NamesTheFirstMissingOptionInFieldOrder) {
    expect_failures({{"no arguments at all", {}, "--parent-process-id is required."}});
    for (std::size_t first = 0; first < kOptionNames.size(); ++first) {
        Arguments arguments = complete_arguments();
        for (std::size_t i = first; i < kOptionNames.size(); ++i) arguments = without(arguments, kOptionNames[i]);
        expect_failures({{"missing from " + kOptionNames[first], arguments, "--" + kOptionNames[first] + " is required."}});
        expect_failures({{"missing only " + kOptionNames[first], without(complete_arguments(), kOptionNames[first]),
                          "--" + kOptionNames[first] + " is required."}});
    }
}

TEST(OptionsParse, EmptyOrWhiteSpaceValueCountsAsMissing) {
    for (const std::string& name : kOptionNames) {
        for (const std::string value : {"", "   ", "\t\xE2\x80\xA8\xC2\xA0"}) {
            expect_failures({{name + " = '" + value + "'", with_value(name, value), "--" + name + " is required."}});
        }
    }
}

TEST(OptionsParse, OtherOptionsAreNoSubstitute) {
    const Arguments no_msi_path = without(complete_arguments(), "msi-path");
    const Arguments no_key_id = without(complete_arguments(), "key-id");
    expect_failures({
        {"names are case-sensitive", plus(no_msi_path, {"--MSI-PATH", "x"}), "--msi-path is required."},
        {"no name=value form", plus(no_msi_path, {"--msi-path=C:\\p.msi", "x"}), "--msi-path is required."},
        {"three dashes keep one", plus(no_msi_path, {"---msi-path", "x"}), "--msi-path is required."},
        {"key id of spaces", plus(no_key_id, {"--key-id", "   "}), "--key-id is required."},
        {"msi path and key id missing", without(no_msi_path, "key-id"), "--msi-path is required."},
        {"process id, msi path and key id missing", without(without(no_msi_path, "key-id"), "parent-process-id"),
         "--parent-process-id is required."},
        {"a bad process id comes before a missing path", plus(without(no_msi_path, "parent-process-id"),
                                                              {"--parent-process-id", "x"}),
         "--parent-process-id must be a process id."},
    });
}

// The four paths that are written into the installer's or the shell's command
// line must not be able to end their argument early and add others.
TEST(OptionsParse, PathsPassedToChildrenRefuseQuotesAndControlCharacters) {
    const std::vector<std::string> injections = {
        "C:\\dl\\a\" INJECTED=yes \"b",
        "C:\\Program Files\\\"",
        std::string("C:\\dl\\a") + '\0' + "b",
        "C:\\dl\\a\nb",
        "C:\\dl\\a\tb",
        "C:\\dl\\a\x1f" "b",
        "C:\\dl\\a\x01",
    };
    for (const std::string name : {"msi-path", "install-dir", "app-path", "msi-log-path"}) {
        for (const auto& value : injections) {
            expect_failures({{name + " = " + value, with_value(name, value),
                              "--" + name + " must not contain a double quote or a control character."}});
        }
    }
    expect_failures({
        {"the earliest field is named", plus(with_value("msi-path", "a\"b"), {"--app-path", "c\"d"}),
         "--msi-path must not contain a double quote or a control character."},
        {"a missing earlier field comes first", plus(without(complete_arguments(), "msi-path"), {"--app-path", "c\"d"}),
         "--msi-path is required."},
    });
}

TEST(OptionsParse, OtherValuesMayHoldQuotesAndControlCharacters) {
    // Trimming takes the tab and line feed around a path; what is left is clean.
    // The helper's own log and result paths never reach a child.
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"msi-path", "\tC:\\dl\\update.msi\n"},
             {"install-dir", "C:\\Program Files\\Caf\xC3\xA9 \xE2\x80\x94 App\\"},
             {"helper-log-path", "C:\\dl\\a\"b.log"},
             {"result-path", "C:\\dl\\a\x01.json"},
             {"signature", "a\"b"},
             {"expected-version", "1.4\x01"},
         }) {
        const auto options = parse_options(with_value(name, value));
        EXPECT_TRUE(options.has_value()) << name << ": " << (options ? "" : options.error());
    }
}

// Paths are converted once, here, to the UTF-16 that the Windows calls and
// the children's command lines take.
TEST(OptionsParse, PathsAreHeldInUtf16) {
    const Arguments arguments =
        plus(without(with_value("install-dir", "C:\\Caf\xc3\xa9 \xf0\x9f\x93\xa6"), "msi-log-path"),
             {"--msi-log-path", "C:\\T\xc3\xa9l\xc3\xa9" "chargements\\msi.log"});
    const auto options = parse_options(arguments);
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->install_dir, u"C:\\Caf\u00e9 \U0001F4E6");
    EXPECT_EQ(options->msi_log_path, u"C:\\T\u00e9l\u00e9chargements\\msi.log");
}

TEST(OptionsParse, RejectsABadProcessId) {
    for (const std::string value : {"4294967296", "-1", "+", "-", "++1", "0x10", "12 34", "1.5", "\xD9\xA4"}) {
        expect_failures({{value, with_value("parent-process-id", value), "--parent-process-id must be a process id."}});
    }
}

TEST(OptionsParse, ProcessIdIsTrimmedBeforeParsing) {
    const auto options = parse_options(with_value("parent-process-id", " \xE3\x80\x80" "4242\t "));
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(options->parent_process_id, 4242u);
}

TEST(OptionsProcessId, ParsesUnsigned32BitDecimal) {
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases = {
        {"4242", 4242u},
        {"+4242", 4242u},
        {"004242", 4242u},
        {"0", 0u},
        {"+0", 0u},
        {"4294967295", 4294967295u},
        {"0004294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"42949672950", std::nullopt},
        {"18446744073709551617", std::nullopt},  // wraps to 1 in 64 bits
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"-1", std::nullopt},
        {"-0", std::nullopt},
        {"++1", std::nullopt},
        {"+-1", std::nullopt},
        {"1+", std::nullopt},
        {"0x10", std::nullopt},
        {"12 34", std::nullopt},
        {" 4242", std::nullopt},  // trimming is the caller's
        {"1.5", std::nullopt},
        {"1e3", std::nullopt},
        {"\xEF\xBC\x91", std::nullopt},  // U+FF11 fullwidth digit one
        {"4\xD9\xA4", std::nullopt},     // U+0664 Arabic-Indic digit four
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_process_id(text), expected);
    }
}

TEST(OptionsScan, KeepsRawValuesUnderNamesWithoutLeadingDashPairs) {
    const auto map = scan_option_pairs(
        Arguments{" --a ", " raw value ", "---b", "--c", "--", "empty", "--msi-path=C:\\p.msi", "x", "--a", "second"});
    ASSERT_TRUE(map.has_value()) << map.error();
    const OptionMap expected = {
        {"a", "second"}, {"-b", "--c"}, {"", "empty"}, {"msi-path=C:\\p.msi", "x"},
    };
    EXPECT_EQ(*map, expected);
}

TEST(OptionsLookup, RequiredTextAndPathTrimOrNameTheOption) {
    const OptionMap map = {{"install-dir", " C:\\Program Files\\Vostrane\\ "}, {"key-id", "\t"}};
    EXPECT_EQ(required_path(map, "install-dir"), u"C:\\Program Files\\Vostrane\\");
    EXPECT_EQ(required_text(map, "install-dir"), "C:\\Program Files\\Vostrane\\");
    EXPECT_EQ(required_text(map, "key-id").error(), "--key-id is required.");
    EXPECT_EQ(required_path(map, "app-path").error(), "--app-path is required.");
    EXPECT_EQ(required_text(map, "INSTALL-DIR").error(), "--INSTALL-DIR is required.");
}

}  // namespace
}  // namespace vostrane
