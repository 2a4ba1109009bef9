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
#include "win/file_io.hpp"
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

}  // namespace

Status WindowsUpdateSteps::prepare_helper_log(const std::string& path) { return vostrane::prepare_helper_log(path); }

void WindowsUpdateSteps::append_log_line(const std::string& path, std::string_view message) {
    vostrane::append_log_line(path, message);
}

void WindowsUpdateSteps::clear_result_file(const std::string& path) { vostrane::clear_result_file(path); }

void WindowsUpdateSteps::write_result_file(const std::string& path, const UpdateOutcome& outcome) {
    vostrane::write_result_file(path, outcome);
}

bool WindowsUpdateSteps::is_msi_package(const std::string& msi_path) { return vostrane::is_msi_package(msi_path); }

Result<std::unique_ptr<PackageLock>> WindowsUpdateSteps::lock_package(const std::string& msi_path) {
    auto file = LockedPackageFile::lock(msi_path);
    if (!file) return failure(file.error());
    return std::make_unique<LockedPackage>(std::move(*file));
}

Result<std::string> WindowsUpdateSteps::compute_package_digest(PackageLock& package) {
    return vostrane::compute_package_digest(file_of(package).handle());
}

void WindowsUpdateSteps::release_package(PackageLock& package) { file_of(package).release(); }

Status WindowsUpdateSteps::verify_update_signature(std::string_view version, std::string_view digest,
                                                   std::string_view signature, std::string_view key_id,
                                                   std::string_view algorithm) {
    return vostrane::verify_update_signature(version, digest, signature, key_id, algorithm);
}

void WindowsUpdateSteps::delete_package(const std::string& msi_path, const PackageLock& package) {
    file_of(package).delete_if_unchanged(msi_path);
}

Result<std::u16string> WindowsUpdateSteps::confirm_installer_package(const PackageLock& package) {
    const LockedPackageFile& file = file_of(package);
    if (auto confirmed = file.confirm_installer_path(); !confirmed) return failure(confirmed.error());
    return file.installer_path();
}

Status WindowsUpdateSteps::wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path) {
    return vostrane::wait_for_parent_exit(process_id, log_path);
}

std::optional<std::u16string> WindowsUpdateSteps::locate_installer() { return vostrane::locate_installer(); }

Result<std::int32_t> WindowsUpdateSteps::run_installer(const std::u16string& program, const std::u16string& package_path,
                                                       const UpdateOptions& options) {
    auto exit_code = vostrane::run_installer(program, package_path, options.install_dir, options.msi_log_path);
    if (!exit_code) return failure(win::describe_io_error(exit_code.error()));
    return *exit_code;
}

void WindowsUpdateSteps::restart_application(const UpdateOptions& options, const std::string& log_path) {
    vostrane::restart_application(options.app_path, options.install_dir, log_path);
}

}  // namespace vostrane
