#pragma once
// Starting child processes on Windows: the one way the helper runs programs.
#include <cstdint>
#include <expected>

#include "process/child_command.hpp"

namespace vostrane {

// Starts the command and waits for it without a time-out: its 32-bit exit code.
std::expected<std::uint32_t, LaunchError> run_to_exit(const ChildCommand& command);

// Starts the command and leaves it running: its process id.
std::expected<std::uint32_t, LaunchError> start(const ChildCommand& command);

}  // namespace vostrane
