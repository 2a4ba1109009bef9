// Status steps run in order until one fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result.hpp"

namespace vostrane {
namespace {

TEST(InOrder, RunsStepsUntilTheFirstFailureAndReturnsIt) {
    struct Case {
        const char* name;
        std::vector<Status> answers;
        Status expected;
        std::size_t steps_run;
    };
    const std::vector<Case> cases = {
        {"all succeed", {Status{}, Status{}, Status{}}, Status{}, 3},
        {"the first fails", {failure("first"), Status{}, failure("third")}, failure("first"), 1},
        {"the second fails", {Status{}, failure("second"), failure("third")}, failure("second"), 2},
        {"the last fails", {Status{}, Status{}, failure("third")}, failure("third"), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t run = 0;
        const auto step = [&](std::size_t index) {
            return [&, index] {
                ++run;
                return c.answers[index];
            };
        };
        EXPECT_EQ(in_order(step(0), step(1), step(2)), c.expected);
        EXPECT_EQ(run, c.steps_run);
    }
}

}  // namespace
}  // namespace vostrane
