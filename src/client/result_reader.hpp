#pragma once
// Reading back the helper's result document, the application's side of it.
#include <string_view>

#include "reporting/result_file.hpp"
#include "result.hpp"

namespace vostrane {

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
