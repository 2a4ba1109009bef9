#pragma once
// Waiting for the application's process to end before it is updated.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace vostrane {

// One wait, no retry: the application has this long to exit.
inline constexpr std::uint32_t kParentWaitMilliseconds = 90000;

inline constexpr std::string_view kPreviousProcessExited = "The previous process has already exited.";
inline constexpr std::string_view kParentDidNotExit = "The previous application process did not exit in time.";
inline constexpr std::string_view kParentWaitFailed = "Waiting for the previous application process failed.";

// "Waiting for process {id} to exit."
std::string waiting_for_process_message(std::uint32_t process_id);

// What WaitForSingleObject's result means for the run: proceed when the
// process has ended, otherwise the failure to report.
Status judge_parent_wait(std::uint32_t wait_result);

// Opens the process for waiting only and waits for it to end; a process that
// cannot be opened counts as already gone. Logs its own line. (Windows)
Status wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path);

}  // namespace vostrane
