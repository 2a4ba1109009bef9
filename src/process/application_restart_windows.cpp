#include "process/application_restart.hpp"
#include "process/child_process.hpp"
#include "reporting/helper_log.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"
#include "win/system_paths.hpp"

namespace vostrane {

void restart_application(const std::u16string& app_path, const std::u16string& install_dir,
                         const std::u16string& log_path) {
    if (!win::names_regular_file(win::file_path(app_path))) {
        append_log_line(log_path, kApplicationNotFoundForRestart);
        return;
    }
    const std::u16string shell = choose_shell_program(win::environment_variable(u"SystemRoot"), win::names_regular_file);
    const auto shell_app_path = shell_application_path(app_path, win::full_path_if_any, win::short_path);
    if (!shell_app_path) {
        append_log_line(log_path, restart_failed_message(win::describe_io_error(shell_app_path.error())));
        return;
    }
    const auto process_id = start(restart_command(shell, *shell_app_path, install_dir));
    if (!process_id) {
        append_log_line(log_path, restart_failed_message(win::describe_io_error(process_id.error())));
        return;
    }
    append_log_line(log_path, restart_requested_message(shell, *process_id));
}

}  // namespace vostrane
