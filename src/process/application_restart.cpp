#include "process/application_restart.hpp"

#include "interface_texts.hpp"
#include "unicode.hpp"

namespace vostrane {

std::u16string choose_shell_program(const std::optional<std::u16string>& system_root,
                                    const PathQuery& is_existing_file) {
    if (system_root) {
        std::u16string candidate = join_windows_path(*system_root, kShellProgram);
        if (is_existing_file(candidate)) return candidate;
    }
    return std::u16string(kShellProgram);
}

std::expected<std::u16string, LaunchError> shell_application_path(const std::u16string& app_path,
                                                                  const FullPathResolver& make_full,
                                                                  const ShortFormQuery& short_form) {
    if (!reaches_max_path(app_path)) return app_path;
    const std::u16string full = make_full(app_path).value_or(app_path);
    auto usable = usable_by_limited_call(full, reaches_max_path, short_form);
    if (!usable) return std::unexpected(IoError::fixed_text(std::string(kApplicationPathTooLong)));
    return std::move(*usable);
}

ChildCommand restart_command(const std::u16string& shell_program, const std::u16string& app_path,
                             const std::u16string& install_dir) {
    return {shell_program, {app_path}, install_dir};
}

std::string restart_requested_message(std::u16string_view shell_program, std::uint32_t process_id) {
    return std::string(kRestartRequestedThrough) + utf16_to_utf8_lossy(shell_program) + std::string(kWithProcessId) +
           std::to_string(process_id) + ".";
}

std::string restart_failed_message(std::string_view description) {
    return std::string(kRestartFailed) + std::string(description);
}

}  // namespace vostrane
