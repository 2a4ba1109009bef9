// Hexadecimal text of byte strings.
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "update_security/hex.hpp"

namespace vostrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Hex, EncodesLowerCaseAndDecodesEitherCase) {
    const Bytes bytes = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(encode_hex_lower(bytes), "000fa5ff");
    EXPECT_EQ(decode_hex("000FA5ff"), bytes);
    EXPECT_EQ(decode_hex(""), Bytes{});
    for (std::string_view bad : {"0", "000", "0g", "-1", "0x00", " 00"}) {
        EXPECT_EQ(decode_hex(bad).error(), kInvalidHexadecimal) << bad;
    }
}

}  // namespace
}  // namespace vostrane
