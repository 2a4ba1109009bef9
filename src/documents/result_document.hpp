#pragma once
// The helper's result document: one compact JSON object for the application's
// next start, written by the helper and read back by the application.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace vostrane {

struct UpdateOutcome {
    std::string status;  // "success", "restartRequired", "restartInitiated" or "error"
    std::int32_t exit_code = 0;
    std::string message;

    friend bool operator==(const UpdateOutcome&, const UpdateOutcome&) = default;
};

// {"status":"…","exitCode":…,"message":"…"}, byte for byte.
std::string result_document(const UpdateOutcome& outcome);

// The outcome in a result document, which must be exactly what the helper
// writes for it: the three members in their order, no space, a status word
// with the exit code that goes with it. Otherwise "The update result is not
// a valid result document: {why}.", so that a partial or altered document is
// never taken for an outcome.
Result<UpdateOutcome> read_result_document(std::string_view text);

// Whether the outcome means the package was installed (with or without a
// restart of Windows still to come).
bool is_installed(const UpdateOutcome& outcome);

}  // namespace vostrane
