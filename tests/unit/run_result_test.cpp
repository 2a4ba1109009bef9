#include <gtest/gtest.h>

#include "run_update.hpp"

namespace vostrane {
namespace {

TEST(RunResult, EarlyFailureExitsWith1603AndKeepsItsMessage) {
    RunResult result = RunResult::early_failure("--key-id is required.");
    EXPECT_TRUE(result.is_early_failure());
    EXPECT_EQ(result.message(), "--key-id is required.");
    EXPECT_EQ(result.exit_code, 1603u);
}

TEST(RunResult, ExitCodeIsCarriedBitForBit) {
    RunResult result = RunResult::finished(0xC0000005u);
    EXPECT_FALSE(result.is_early_failure());
    EXPECT_EQ(result.exit_code, 0xC0000005u);
}

}  // namespace
}  // namespace vostrane
