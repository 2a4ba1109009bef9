#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unicode.hpp"

namespace vostrane {
namespace {

// UTF-8 bytes written out, so that invalid sequences can be spelled.
std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

struct TranscodingCase {
    std::u16string utf16;
    std::string utf8;
};

const std::vector<TranscodingCase> kWellFormedText = {
    {u"", ""},
    {u"--msi-path", "--msi-path"},
    {u"\u00E9", "\xC3\xA9"},                                    // two bytes
    {u"\u007F\u0080\u07FF\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},  // length boundaries
    {u"\u20AC", "\xE2\x82\xAC"},                                // three bytes
    {u"\uFFFD\uFFFF", "\xEF\xBF\xBD\xEF\xBF\xBF"},
    {u"\U0001F600", "\xF0\x9F\x98\x80"},                        // surrogate pair, four bytes
    {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {u"C:\\Programme\\\u00DCber \u4E2D\u6587\\a.msi", "C:\\Programme\\\xC3\x9C" "ber \xE4\xB8\xAD\xE6\x96\x87\\a.msi"},
};

TEST(UnicodeTranscoding, WellFormedTextConvertsBothWays) {
    for (const auto& [utf16, utf8] : kWellFormedText) {
        SCOPED_TRACE(utf8);
        const auto converted = utf16_to_utf8(utf16);
        ASSERT_TRUE(converted.has_value()) << converted.error();
        EXPECT_EQ(*converted, utf8);
        EXPECT_TRUE(utf8_to_utf16(utf8) == utf16);
    }
}

TEST(UnicodeTranscoding, UnpairedSurrogatesFailUtf16ToUtf8) {
    const std::vector<std::u16string> unpaired = {
        {u'a', char16_t(0xD800)},                   // high at the end
        {char16_t(0xDBFF)},                         // high alone
        {char16_t(0xD800), u'a'},                   // high before a non-surrogate
        {char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},  // high before another high
        {char16_t(0xDC00)},                         // low alone
        {u'a', char16_t(0xDFFF), u'b'},             // low inside text
        {char16_t(0xDE00), char16_t(0xD83D)},       // a pair in the wrong order
    };
    for (const auto& text : unpaired) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_FALSE(utf16_to_utf8(text).has_value());
    }
}

// For display, each unpaired surrogate becomes one U+FFFD and pairs stay whole.
TEST(UnicodeTranscoding, LossyConversionReplacesEachUnpairedSurrogate) {
    const std::string fffd = "\xef\xbf\xbd";
    const std::vector<std::pair<std::u16string, std::string>> cases = {
        {{u'a', char16_t(0xD800)}, "a" + fffd},
        {{char16_t(0xD800), u'a'}, fffd + "a"},
        {{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, fffd + "\xf0\x9f\x98\x80"},
        {{char16_t(0xDE00), char16_t(0xD83D)}, fffd + fffd},
        {{u'a', char16_t(0xDFFF), u'b'}, "a" + fffd + "b"},
        {u"d\u00e9j\u00e0 \U0001F600", "d\xc3\xa9j\xc3\xa0 \xf0\x9f\x98\x80"},
        {u"", ""},
    };
    for (const auto& [text, utf8] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(utf16_to_utf8_lossy(text), utf8);
    }
}

// Each maximal invalid subpart becomes one U+FFFD; the valid text around it stays.
TEST(UnicodeTranscoding, InvalidUtf8BecomesReplacementCharacters) {
    const std::vector<TranscodingCase> cases = {
        {u"\uFFFD", bytes({0x80})},                                   // stray continuation byte
        {u"a\uFFFDb", bytes({'a', 0xBF, 'b'})},
        {u"\uFFFD\uFFFD", bytes({0xC0, 0xAF})},                       // overlong '/'
        {u"\uFFFD\uFFFD\uFFFD", bytes({0xE0, 0x80, 0xAF})},           // overlong three bytes
        {u"\uFFFD\uFFFD\uFFFD\uFFFD", bytes({0xF0, 0x80, 0x80, 0x80})},   // overlong four bytes
        {u"\uFFFD\uFFFD\uFFFD\uFFFD", bytes({0xF0, 0x8F, 0xBF, 0xBF})},   // overlong U+FFFF
        {u"a\uFFFD\uFFFD\uFFFDb", bytes({'a', 0xF0, 0x82, 0x82, 'b'})},
        {u"\uFFFD\uFFFD\uFFFD", bytes({0xED, 0xA0, 0x80})},           // encoded surrogate
        {u"\uFFFD\uFFFD\uFFFD\uFFFD", bytes({0xF4, 0x90, 0x80, 0x80})},  // above U+10FFFF
        {u"\uFFFD", bytes({0xF5})},
        {u"\uFFFD", bytes({0xFF})},
        {u"\uFFFD", bytes({0xE2, 0x82})},                             // truncated at the end
        {u"\uFFFDb", bytes({0xE2, 0x82, 'b'})},                       // truncated before ASCII
        {u"\uFFFD\u20AC", bytes({0xF0, 0x9F, 0x98, 0xE2, 0x82, 0xAC})},  // truncated before a valid one
        {u"\uFFFD", bytes({0xF0, 0x9F, 0x98})},
    };
    for (const auto& [utf16, utf8] : cases) {
        SCOPED_TRACE(testing::PrintToString(utf8));
        EXPECT_TRUE(utf8_to_utf16(utf8) == utf16) << testing::PrintToString(utf8_to_utf16(utf8));
    }
}

// Every character with the Unicode White_Space property, as UTF-8.
const std::vector<std::string> kWhiteSpace = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85",      // U+0085
    "\xC2\xA0",      // U+00A0
    "\xE1\x9A\x80",  // U+1680
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",  // U+2000..U+200A
    "\xE2\x80\xA8",  // U+2028
    "\xE2\x80\xA9",  // U+2029
    "\xE2\x80\xAF",  // U+202F
    "\xE2\x81\x9F",  // U+205F
    "\xE3\x80\x80",  // U+3000
};

TEST(UnicodeTrim, RemovesEachWhiteSpaceCharacterAtEitherEnd) {
    for (const auto& white : kWhiteSpace) {
        SCOPED_TRACE(testing::PrintToString(white));
        EXPECT_EQ(trim_white_space(white + "a b"), "a b");
        EXPECT_EQ(trim_white_space("a b" + white), "a b");
        EXPECT_EQ(trim_white_space(white + white + "x" + white), "x");
        EXPECT_EQ(trim_white_space("a" + white + "b"), "a" + white + "b");
        EXPECT_EQ(trim_white_space(white), "");
    }
}

TEST(UnicodeTrim, KeepsEverythingElse) {
    const std::vector<std::string> kept = {
        "",
        "value",
        "\xE2\x80\x8B" "a\xE2\x80\x8B",  // U+200B zero width space: not White_Space
        "\xE1\xA0\x8E" "a\xE1\xA0\x8E",  // U+180E Mongolian vowel separator: no longer White_Space
        "\xEF\xBB\xBF" "a\xEF\xBB\xBF",  // U+FEFF byte order mark
        "\xE2\x80\x8C" "a\xE2\x80\x8D",  // U+200C, U+200D joiners
        "\xC2\x84" "a\xC2\x86",          // neighbours of U+0085
        "\xE2\x80\x8B",
        // Bytes that would be white space in Latin-1 or on their own, but are
        // not characters here: a stray A0 or 85, and a truncated sequence.
        bytes({0xA0, 'a', 0x85}),
        bytes({'a', 0xC2}),
        bytes({0x80, 0x80, 0x80, 0x80, 0x80}),
    };
    for (const auto& text : kept) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(trim_white_space(text), text);
    }
}

TEST(UnicodeTrim, StopsAtInvalidBytes) {
    // The space before the stray byte is inner text, not a trailing character.
    EXPECT_EQ(trim_white_space(" a \x80 "), "a \x80");
    EXPECT_EQ(trim_white_space(" \xE2\x80 a"), "\xE2\x80 a");
}

TEST(UnicodeAscii, LowerChangesOnlyAsciiCapitals) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"ABCDEF0123456789abcdef", "abcdef0123456789abcdef"},
        {"AZaz@[`{", "azaz@[`{"},
        {"\xC3\x89T\xC3\x89", "\xC3\x89t\xC3\x89"},  // "ÉTÉ": É stays
        {"\xC4\xB0I", "\xC4\xB0i"},                  // dotted capital I stays
    };
    for (const auto& [text, lowered] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ascii_lower(text), lowered);
    }
}

TEST(UnicodeAscii, IequalsIgnoresOnlyAsciiCase) {
    struct Case {
        std::string a;
        std::string b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"", "", true},
        {"Ed25519", "ED25519", true},
        {"ed25519", "ed25519", true},
        {"ed25519", "ed2551", false},
        {"ed2551", "ed25519", false},
        {"@", "`", false},                   // differ by the case bit but are not letters
        {"[", "{", false},
        {"\xC3\xA9", "\xC3\x89", false},     // é and É
        {"\xC3\xA9", "\xC3\xA9", true},
    };
    for (const auto& [a, b, equal] : cases) {
        SCOPED_TRACE(a + " / " + b);
        EXPECT_EQ(ascii_iequals(a, b), equal);
    }
}

}  // namespace
}  // namespace vostrane
