#include <windows.h>

#include "process/parent_wait.hpp"
#include "reporting/helper_log.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {

Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) {
    // Enough to wait on, nothing more; the handle is never inherited.
    win::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (!process) {
        // Gone, never there, id 0 or not ours to open: nothing to wait for.
        append_log_line(log_path, kPreviousProcessExited);
        return {};
    }
    append_log_line(log_path, waiting_for_process_message(process_id));
    const DWORD wait_result = ::WaitForSingleObject(process.get(), kParentWaitMilliseconds);
    process.reset();
    return judge_parent_wait(wait_result);
}

}  // namespace vostrane
