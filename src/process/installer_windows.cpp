#include "process/child_process.hpp"
#include "process/installer.hpp"
#include "result.hpp"
#include "win/file_io.hpp"
#include "win/system_paths.hpp"

namespace vostrane {

std::optional<std::u16string> locate_installer() {
    return installer_location(win::environment_variable(u"SystemRoot"), win::names_regular_file);
}

std::expected<std::int32_t, LaunchError> run_installer(const std::u16string& program, const std::u16string& package_path,
                                                       const std::u16string& install_dir,
                                                       const std::u16string& msi_log_path) {
    auto exit_code = run_to_exit(installer_command(program, package_path, install_dir, msi_log_path));
    RETURN_IF_FAILED(exit_code);
    return static_cast<std::int32_t>(*exit_code);
}

}  // namespace vostrane
