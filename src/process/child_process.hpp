#pragma once
// Starting child processes on Windows: the one way the helper runs programs.
#include <cstdint>
#include <expected>

#include "process/child_command.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {

// Starts the command and waits for it without a time-out: its 32-bit exit code.
std::expected<std::uint32_t, LaunchError> run_to_exit(const ChildCommand& command);

// Starts the command and leaves it running: its process id.
std::expected<std::uint32_t, LaunchError> start(const ChildCommand& command);

struct StartedChild {
    win::unique_handle process;
    win::unique_handle thread;
};

// Starts the command with its first thread suspended, so that the starter can
// look at the process before any of its code runs; ResumeThread lets it run.
std::expected<StartedChild, LaunchError> start_suspended(const ChildCommand& command);

}  // namespace vostrane
