#include <gtest/gtest.h>

#include "vostrane_sign/secret_bytes.hpp"

namespace vostrane::sign_tool {
namespace {

TEST(SecretBytes, GrowsWithinItsRoomAndCountsWhatWasFilled) {
    SecretBytes bytes(4);
    const auto room = bytes.unused();
    ASSERT_EQ(room.size(), 4u);
    room[0] = 'k';
    room[1] = 'e';
    bytes.grow(2);
    EXPECT_EQ(bytes.text(), "ke");
    EXPECT_EQ(bytes.unused().size(), 2u);
    bytes.grow(2);
    EXPECT_EQ(bytes.size(), 4u);
}

// A count beyond the room would make text() reach past the storage that is wiped.
TEST(SecretBytesDeathTest, GrowingBeyondItsRoomEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SecretBytes bytes(4);
    bytes.grow(3);
    EXPECT_DEATH(bytes.grow(2), "");
}

}  // namespace
}  // namespace vostrane::sign_tool
