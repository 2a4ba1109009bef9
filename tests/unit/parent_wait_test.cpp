// The wait for the parent: whether the run goes on after it, and its message.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "process/parent_wait.hpp"

namespace vostrane {
namespace {

TEST(ParentWait, WaitResultDecidesWhetherTheRunGoesOn) {
    EXPECT_TRUE(judge_parent_wait(0));
    const std::vector<std::pair<std::uint32_t, std::string>> failures = {
        {0x102, "The previous application process did not exit in time."},
        {0xFFFFFFFF, "Waiting for the previous application process failed."},  // WAIT_FAILED
        {0x80, "Waiting for the previous application process failed."},        // WAIT_ABANDONED
        {1, "Waiting for the previous application process failed."},
    };
    for (const auto& [result, message] : failures) {
        SCOPED_TRACE(result);
        const Status judged = judge_parent_wait(result);
        ASSERT_FALSE(judged);
        EXPECT_EQ(judged.error(), message);
    }
    EXPECT_EQ(waiting_for_process_message(4242), "Waiting for process 4242 to exit.");
    EXPECT_EQ(waiting_for_process_message(4294967295u), "Waiting for process 4294967295 to exit.");
}

}  // namespace
}  // namespace vostrane
