#pragma once
// One update run, from the parsed options to the outcome and exit code.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "interface_texts.hpp"
#include "result.hpp"
#include "update_world.hpp"

namespace vostrane {

// What run_update hands to the process entry: the process exit code and, after
// an early failure, the message for standard error (the code is then 1603).
struct RunResult {
    std::uint32_t exit_code = 0;  // the process's, as ExitProcess takes it
    std::optional<std::string> early_failure_message;

    static RunResult finished(std::uint32_t exit_code) { return {exit_code, std::nullopt}; }
    static RunResult early_failure(std::string message) { return {kFatalExitCode, std::move(message)}; }

    [[nodiscard]] bool is_early_failure() const { return early_failure_message.has_value(); }
    [[nodiscard]] const std::string& message() const { return *early_failure_message; }
};

// Converts each argument (program name first, as split from the command line)
// to UTF-8 and drops the program name; fails on an unpaired surrogate.
Result<std::vector<std::string>> arguments_from_command_line(std::span<const std::u16string> split);

// Runs one update. `arguments` excludes the program name.
RunResult run_update(std::span<const std::string> arguments, UpdateWorld& world);

}  // namespace vostrane
