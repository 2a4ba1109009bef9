#include "result_document.hpp"

#include <limits>
#include <optional>

#include "interface_texts.hpp"
#include "json_object.hpp"

namespace vostrane {
namespace {

std::unexpected<std::string> invalid(const std::string& why) {
    return failure(std::string(kResultNotValid) + why + ".");
}

// The exit code a status word requires; none for "error", which carries any.
Result<std::optional<std::int32_t>> required_exit_code(std::string_view status) {
    if (status == kStatusSuccess) return std::optional<std::int32_t>(0);
    if (status == kStatusRestartRequired) return std::optional<std::int32_t>(kRestartRequiredCode);
    if (status == kStatusRestartInitiated) return std::optional<std::int32_t>(kRestartInitiatedCode);
    if (status == kStatusError) return std::optional<std::int32_t>();
    return invalid("\"" + std::string(status) + "\" is not a status");
}

}  // namespace

std::string result_document(const UpdateOutcome& outcome) {
    return "{\"status\":" + json_string(outcome.status) + ",\"exitCode\":" + std::to_string(outcome.exit_code) +
           ",\"message\":" + json_string(outcome.message) + "}";
}

Result<UpdateOutcome> read_result_document(std::string_view text) {
    const auto members = read_flat_json_object(text);
    if (!members) return invalid(members.error());
    if (members->size() != 3 || (*members)[0].name != "status" || (*members)[1].name != "exitCode" ||
        (*members)[2].name != "message") {
        return invalid("it must hold \"status\", \"exitCode\" and \"message\", in this order");
    }
    const auto* status = std::get_if<std::string>(&(*members)[0].value);
    const auto* exit_code = std::get_if<std::int64_t>(&(*members)[1].value);
    const auto* message = std::get_if<std::string>(&(*members)[2].value);
    if (status == nullptr || exit_code == nullptr || message == nullptr) {
        return invalid("\"status\" and \"message\" must be strings and \"exitCode\" an integer");
    }
    if (*exit_code < std::numeric_limits<std::int32_t>::min() || *exit_code > std::numeric_limits<std::int32_t>::max()) {
        return invalid("\"exitCode\" is beyond 32 bits");
    }
    const auto required = required_exit_code(*status);
    RETURN_IF_FAILED(required);
    if (*required && **required != *exit_code) {
        return invalid("\"" + *status + "\" goes with exit code " + std::to_string(**required));
    }
    UpdateOutcome outcome{*status, static_cast<std::int32_t>(*exit_code), *message};
    if (result_document(outcome) != text) return invalid("it is not written as the helper writes it");
    return outcome;
}

bool is_installed(const UpdateOutcome& outcome) { return outcome.status != kStatusError; }

}  // namespace vostrane
