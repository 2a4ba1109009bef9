#pragma once
// Starting the application again through the Windows shell once the update
// has been tried. Best effort: what goes wrong is logged and nothing else.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "interface_texts.hpp"
#include "windows_path.hpp"
#include "process/child_command.hpp"

namespace vostrane {

// SystemRoot\explorer.exe when the variable is set and that file exists,
// otherwise the bare name, left to the program search.
std::u16string choose_shell_program(const std::optional<std::u16string>& system_root,
                                    const PathQuery& is_existing_file);

// The application path the shell is given: as the option gives it when it has
// fewer than MAX_PATH characters (the shell starts nothing at a longer path),
// otherwise the short form of its full path; when neither is short enough,
// "application path is too long and has no short form".
std::expected<std::u16string, LaunchError> shell_application_path(const std::u16string& app_path,
                                                                  const FullPathResolver& make_full,
                                                                  const ShortFormQuery& short_form);

// The shell with the application's path as its one argument, started in the
// installation directory.
ChildCommand restart_command(const std::u16string& shell_program, const std::u16string& app_path,
                             const std::u16string& install_dir);

// "Application restart requested through {shell} with process id {id}."; a
// shell text that is not valid Unicode shows U+FFFD in its place.
std::string restart_requested_message(std::u16string_view shell_program, std::uint32_t process_id);

// "Application restart failed: {description}"
std::string restart_failed_message(std::string_view description);

// Checks the application path, starts the shell without waiting for it and
// logs the one line that says how it went. (Windows)
void restart_application(const std::u16string& app_path, const std::u16string& install_dir,
                         const std::u16string& log_path);

}  // namespace vostrane
