#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io_error.hpp"

namespace vostrane {
namespace {

// Stands in for FormatMessageW and records which codes were looked up.
struct RecordingMessages {
    std::vector<std::uint32_t> codes;
    SystemMessageSource source() {
        return [this](std::uint32_t code) {
            codes.push_back(code);
            return "message " + std::to_string(code);
        };
    }
};

TEST(IoErrorDescription, OsErrorsShowMessageThenSignedCode) {
    struct Case {
        std::uint32_t code;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {0, "message 0 (os error 0)"},
        {2, "message 2 (os error 2)"},
        {5, "message 5 (os error 5)"},
        {0x7FFFFFFFu, "message 2147483647 (os error 2147483647)"},
        {0x10000005u, "message 268435461 (os error 268435461)"},
        {0xC0000005u, "message 3221225477 (os error -1073741819)"},
        {0x80000000u, "message 2147483648 (os error -2147483648)"},
        {0xFFFFFFFFu, "message 4294967295 (os error -1)"},
    };
    for (const auto& c : cases) {
        RecordingMessages messages;
        EXPECT_EQ(describe_io_error(IoError::os_error(c.code), messages.source()), c.expected) << c.code;
        EXPECT_EQ(messages.codes, std::vector<std::uint32_t>{c.code}) << "the code is looked up as given";
    }
}

TEST(IoErrorDescription, FixedTextsStandAloneWithoutLookup) {
    for (const std::string_view text :
         {kProgramNotFound, kProgramPathHasNoFileName, kNulByteInData, kFailedToWriteWholeBuffer}) {
        RecordingMessages messages;
        EXPECT_EQ(describe_io_error(IoError::fixed_text(std::string(text)), messages.source()), text);
        EXPECT_TRUE(messages.codes.empty()) << text;
    }
}

TEST(IoErrorDescription, MessageIsUsedVerbatim) {
    const SystemMessageSource source = [](std::uint32_t) { return std::string(" Zugriff verweigert \xE2\x80\x94 (x)"); };
    EXPECT_EQ(describe_io_error(IoError::os_error(5), source), " Zugriff verweigert \xE2\x80\x94 (x) (os error 5)");
}

TEST(IoErrorDescription, OsErrorAndFixedTextDiffer) {
    EXPECT_NE(IoError::os_error(2), IoError::fixed_text("2"));
    EXPECT_EQ(IoError::os_error(2), IoError::os_error(2));
    EXPECT_NE(IoError::os_error(2), IoError::os_error(3));
}

TEST(TrimTrailingMessageSpace, RemovesOnlyTrailingMessageWhiteSpace) {
    struct Case {
        std::string_view input;
        std::string_view expected;
    };
    const std::vector<Case> cases = {
        {"The system cannot find the file specified.\r\n", "The system cannot find the file specified."},
        {"Access is denied. \t\f\r\n \r\n", "Access is denied."},
        {"  leading kept\r\n", "  leading kept"},
        {"inner\r\nlines\tkept\r\n", "inner\r\nlines\tkept"},
        {"no trailing space", "no trailing space"},
        {"", ""},
        {"\r\n\t\f ", ""},
        // Only the five ASCII characters count: vertical tab and no-break space stay.
        {"ends in vertical tab\v", "ends in vertical tab\v"},
        {"ends in no-break space\xC2\xA0", "ends in no-break space\xC2\xA0"},
        {std::string_view("nul kept\0", 9), std::string_view("nul kept\0", 9)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trim_trailing_message_space(c.input), c.expected) << c.input;
    }
}

TEST(SystemMessageFromUnits, ConvertsAndTrimsOrFallsBack) {
    struct Case {
        const char* name;
        std::uint32_t code;
        std::u16string_view units;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"system text", 2, u"The system cannot find the file specified.\r\n",
         "The system cannot find the file specified."},
        {"non-ASCII and astral", 5, u"Zugriff verweigert \u00e9\U0001F600 \r\n",
         "Zugriff verweigert \xC3\xA9\xF0\x9F\x98\x80"},
        {"only white space", 7, u"\r\n", ""},
        {"lone high surrogate", 2, u"bad \xD800 text\r\n",
         "OS Error 2 (FormatMessageW() returned invalid UTF-16)"},
        {"lone low surrogate, negative code", 0xC0000005u, u"\xDC00",
         "OS Error -1073741819 (FormatMessageW() returned invalid UTF-16)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(system_message_from_units(c.code, c.units), c.expected) << c.name;
    }
}

TEST(SystemMessageLookupFailed, ShowsBothCodesSigned) {
    EXPECT_EQ(system_message_lookup_failed(0x2F5A, 317), "OS Error 12122 (FormatMessageW() returned error 317)");
    EXPECT_EQ(system_message_lookup_failed(0xE0001234u, 0xFFFFFFFFu),
              "OS Error -536866252 (FormatMessageW() returned error -1)");
}

}  // namespace
}  // namespace vostrane
