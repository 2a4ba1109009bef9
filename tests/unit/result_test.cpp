// Failures passed up through RETURN_IF_FAILED: steps run in order until one
// fails, and that failure is what the caller gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "result.hpp"

namespace vostrane {
namespace {

TEST(ReturnIfFailed, RunsStepsUntilTheFirstFailureAndReturnsIt) {
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
        // A Status passed up as it is given, a Result<int> held first, a Status again.
        const auto in_sequence = [&]() -> Status {
            RETURN_IF_FAILED(step(0)());
            const Status answer = step(1)();
            const Result<int> second = answer ? Result<int>(2) : Result<int>(failure(answer.error()));
            RETURN_IF_FAILED(second);
            RETURN_IF_FAILED(step(2)());
            return {};
        };
        EXPECT_EQ(in_sequence(), c.expected);
        EXPECT_EQ(run, c.steps_run);
    }
}

// A failure passes up into a function of another value type unchanged.
TEST(ReturnIfFailed, PassesTheMessageUpIntoAnyResult) {
    const auto passed_up = [](Status status) -> Result<std::string> {
        RETURN_IF_FAILED(status);
        return std::string("done");
    };
    EXPECT_EQ(passed_up(failure("why")), Result<std::string>(failure("why")));
    EXPECT_EQ(passed_up(Status{}), Result<std::string>("done"));
}

}  // namespace
}  // namespace vostrane
