// Strict standard Base64: exactly one accepted text per byte string.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update_security/base64.hpp"

namespace vostrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, DecodesCanonicalText) {
    struct Case {
        std::string_view text;
        Bytes bytes;
    };
    const Case cases[] = {
        {"", {}},
        {"Zg==", bytes_of("f")},
        {"Zm8=", bytes_of("fo")},
        {"Zm9v", bytes_of("foo")},
        {"Zm9vYg==", bytes_of("foob")},
        {"Zm9vYmE=", bytes_of("fooba")},
        {"Zm9vYmFy", bytes_of("foobar")},
        {"+/+/", {0xfb, 0xff, 0xbf}},
        {"AAAA", {0, 0, 0}},
        {"////", {0xff, 0xff, 0xff}},
    };
    for (const Case& c : cases) {
        auto decoded = decode_base64_strict(c.text);
        ASSERT_TRUE(decoded.has_value()) << c.text;
        EXPECT_EQ(*decoded, c.bytes) << c.text;
        EXPECT_EQ(encode_base64(c.bytes), c.text);
    }
}

TEST(Base64, RefusesEverythingElse) {
    struct Case {
        const char* rule;
        std::string_view text;
    };
    const Case cases[] = {
        {"padding missing", "Zg"},
        {"padding missing", "Zm8"},
        {"one pad where two are needed", "Zg="},
        {"one character in the last group", "Z==="},
        {"one character in the last group", "Zm9vZ"},
        {"a lone pad group", "===="},
        {"too much padding", "Zm8=="},
        {"pad in the third place only", "Zm=v"},
        {"pad in the first place", "=m9v"},
        {"pad in the second place", "Z=9v"},
        {"pad before the last group", "Zg==Zm9v"},
        {"data after the padding", "Zg==A"},
        {"unused bits set, two data characters", "Zh=="},
        {"unused bits set, three data characters", "Zm9="},
        {"URL-safe minus", "-_-_"},
        {"URL-safe underscore", "Zm9_"},
        {"blank inside", "Zm9v Zm9v"},
        {"line break inside", "Zm9v\nZm9v"},
        {"CR LF at the end", "Zm9v\r\n"},
        {"leading blank", " Zm9v"},
        {"trailing blank", "Zm9v "},
        {"NUL byte", std::string_view("Zm9\0", 4)},
        {"non-ASCII", "Zm9\xc3\xa9"},
        {"dot", "Zm9."},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(decode_base64_strict(c.text).has_value()) << c.rule << ": " << c.text;
    }
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    Bytes bytes;
    for (int i = 0; i < 300; ++i) {
        auto decoded = decode_base64_strict(encode_base64(bytes));
        ASSERT_TRUE(decoded.has_value()) << i;
        EXPECT_EQ(*decoded, bytes);
        bytes.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    }
    EXPECT_EQ(encode_base64(Bytes(64, 0xff)).size(), 88u);
}

}  // namespace
}  // namespace vostrane
