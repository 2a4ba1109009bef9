#pragma once
// Windows Installer: where it is and how it is run on the package.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "process/child_command.hpp"

namespace vostrane {

// SystemRoot\System32\msiexec.exe when the variable is set (`system_root`) and
// that file exists; the bare name, left to the program search, when it is not
// set; nothing (not found) when it is set but the file is missing there.
std::optional<std::u16string> installer_location(const std::optional<std::u16string>& system_root,
                                                 const PathQuery& is_existing_file);

// msiexec's eight arguments: install the package passively, never restart
// Windows, into the installation directory, with a verbose log. The package is
// named by `package_path`, the checked file's confirmed path.
ChildCommand installer_command(const std::u16string& program, const std::u16string& package_path,
                               const std::u16string& install_dir, const std::u16string& msi_log_path);

// installer_location for this process's environment and file system. (Windows)
std::optional<std::u16string> locate_installer();

// Runs the installer and waits as long as it runs: its exit code, read as
// signed, or why it could not be started or waited for. (Windows)
std::expected<std::int32_t, LaunchError> run_installer(const std::u16string& program, const std::u16string& package_path,
                                                       const std::u16string& install_dir,
                                                       const std::u16string& msi_log_path);

}  // namespace vostrane
