#pragma once
// Waiting for the application's process to end before it is updated.
#include <cstdint>
#include <string>
#include <string_view>

#include "interface_texts.hpp"
#include "result.hpp"

namespace vostrane {


// "Waiting for process {id} to exit."
std::string waiting_for_process_message(std::uint32_t process_id);

// What WaitForSingleObject's result means for the run: proceed when the
// process has ended, otherwise the failure to report.
Status judge_parent_wait(std::uint32_t wait_result);

// Opens the process for waiting only and waits for it to end; a process that
// cannot be opened counts as already gone. Logs its own line. (Windows)
Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path);

}  // namespace vostrane
