#include "process/installer.hpp"

#include "interface_texts.hpp"
#include "unicode.hpp"

namespace vostrane {

std::optional<std::u16string> installer_location(const std::optional<std::u16string>& system_root,
                                                 const PathQuery& is_existing_file) {
    if (!system_root) return std::u16string(kInstallerProgram);
    std::u16string path = join_windows_path(join_windows_path(*system_root, u"System32"), kInstallerProgram);
    if (is_existing_file(path)) return path;
    return std::nullopt;  // no search elsewhere when SystemRoot names the place
}

ChildCommand installer_command(const std::u16string& program, const std::u16string& package_path,
                               const std::u16string& install_dir, const std::u16string& msi_log_path) {
    return {program,
            {u"/i", package_path, u"/passive", u"/norestart",
             std::u16string(kInstallDirProperty) + install_dir,
             utf8_to_utf16(kInstallDirLockName) + u"=1", u"/L*v",
             msi_log_path},
            std::nullopt};
}

}  // namespace vostrane
