#include "windows_update_steps.hpp"

#include <windows.h>

#include "process/application_restart.hpp"
#include "process/installer.hpp"
#include "process/parent_wait.hpp"
#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"
#include "update_security/package_check.hpp"
#include "update_security/package_lock.hpp"
#include "update_security/update_signature.hpp"
#include "win/system_message.hpp"

namespace vostrane {
namespace {

// The locked package file, as the run holds it.
class LockedPackage final : public PackageLock {
public:
    explicit LockedPackage(LockedPackageFile file) : file(std::move(file)) {}
    LockedPackageFile file;
};

// The run only ever hands back the locks these steps made.
LockedPackageFile& file_of(PackageLock& package) { return static_cast<LockedPackage&>(package).file; }
const LockedPackageFile& file_of(const PackageLock& package) {
    return static_cast<const LockedPackage&>(package).file;
}

Result<std::unique_ptr<PackageLock>> lock_package(const std::u16string& msi_path) {
    auto file = LockedPackageFile::lock(msi_path);
    if (!file) return failure(file.error());
    return std::make_unique<LockedPackage>(std::move(*file));
}

Result<std::u16string> confirm_installer_package(const PackageLock& package) {
    const LockedPackageFile& file = file_of(package);
    if (auto confirmed = file.confirm_installer_path(); !confirmed) return failure(confirmed.error());
    return file.installer_path();
}

Result<std::int32_t> run_installer_described(const std::u16string& program, const std::u16string& package_path,
                                             const std::u16string& install_dir, const std::u16string& msi_log_path) {
    auto exit_code = run_installer(program, package_path, install_dir, msi_log_path);
    if (!exit_code) return failure(win::describe_io_error(exit_code.error()));
    return *exit_code;
}

}  // namespace

UpdateSteps windows_update_steps() {
    UpdateSteps steps;
    steps.prepare_helper_log = prepare_helper_log;
    steps.append_log_line = append_log_line;
    steps.clear_result_file = clear_result_file;
    steps.write_result_file = write_result_file;
    steps.is_msi_package = [](const std::u16string& msi_path) { return is_msi_package(msi_path); };
    steps.lock_package = lock_package;
    steps.compute_package_digest = [](PackageLock& package) { return compute_package_digest(file_of(package).handle()); };
    steps.release_package = [](PackageLock& package) { file_of(package).release(); };
    steps.verify_update_signature = verify_update_signature;
    steps.inspect_package = [](PackageLock& package) { return file_of(package).check_self_contained(); };
    // The lock holds the package's path as it opened it, converted once.
    steps.delete_package = [](const std::u16string&, const PackageLock& package) {
        file_of(package).delete_if_unchanged();
    };
    steps.confirm_installer_package = confirm_installer_package;
    steps.confirm_package_installed = [](const PackageLock& package) { return file_of(package).confirm_installed(); };
    steps.wait_for_parent_exit = wait_for_parent_exit;
    steps.locate_installer = locate_installer;
    steps.run_installer = run_installer_described;
    steps.restart_application = restart_application;
    return steps;
}

}  // namespace vostrane
