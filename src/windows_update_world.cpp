#include "windows_update_world.hpp"

#include <windows.h>

#include "process/application_restart.hpp"
#include "process/installer.hpp"
#include "process/parent_wait.hpp"
#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"
#include "update_security/msi_library_windows.hpp"
#include "update_security/package_check.hpp"
#include "update_security/package_lock.hpp"
#include "update_security/update_signature.hpp"
#include "win/system_message.hpp"

namespace vostrane {
namespace {

// The locked package file, as the run holds it. One package, three names,
// each at its own level: CheckedPackage is what the run asks of a package
// (an interface, so that the run's order is tested with stand-ins and the run
// does not depend on Windows); LockedPackageFile is the Windows lock itself,
// which knows nothing of the run; this adapter joins them and brings what the
// lock is not given by its caller: the registrations it asks.
class LockedPackage final : public CheckedPackage {
public:
    LockedPackage(LockedPackageFile file, std::shared_ptr<SharedMsiLibrary> msi,
                  std::shared_ptr<InstalledProducts> installed_products)
        : file_(std::move(file)), msi_(std::move(msi)), installed_products_(std::move(installed_products)) {}

    Result<std::string> digest() override { return compute_package_digest(file_.handle()); }
    Status check_contents(std::string_view signed_version) override {
        return file_.check_contents(signed_version, *msi_, *installed_products_);
    }
    [[nodiscard]] Result<std::u16string> confirm_installer_path() const override {
        RETURN_IF_FAILED(file_.confirm_installer_path());
        return file_.installer_path();
    }
    void release() override { file_.release(); }
    void delete_if_unchanged() const override { file_.delete_if_unchanged(); }
    [[nodiscard]] Status confirm_installed() const override { return file_.confirm_installed(*installed_products_); }

private:
    LockedPackageFile file_;
    std::shared_ptr<SharedMsiLibrary> msi_;
    std::shared_ptr<InstalledProducts> installed_products_;
};

}  // namespace

WindowsUpdateWorld::WindowsUpdateWorld()
    : msi_(std::make_shared<SharedMsiLibrary>()), installed_products_(msi_installed_products(msi_)) {}

WindowsUpdateWorld::WindowsUpdateWorld(std::shared_ptr<InstalledProducts> installed_products)
    : msi_(std::make_shared<SharedMsiLibrary>()), installed_products_(std::move(installed_products)) {}

Status WindowsUpdateWorld::prepare_helper_log(const std::u16string& log_path) {
    return vostrane::prepare_helper_log(log_path);
}

void WindowsUpdateWorld::append_log_line(const std::u16string& log_path, std::string_view message) {
    vostrane::append_log_line(log_path, message);
}

void WindowsUpdateWorld::clear_result_file(const std::u16string& result_path) {
    vostrane::clear_result_file(result_path);
}

void WindowsUpdateWorld::write_result_file(const std::u16string& result_path, const UpdateOutcome& outcome) {
    vostrane::write_result_file(result_path, outcome);
}

bool WindowsUpdateWorld::is_msi_package(const std::u16string& msi_path) { return vostrane::is_msi_package(msi_path); }

Result<std::unique_ptr<CheckedPackage>> WindowsUpdateWorld::lock_package(const std::u16string& msi_path) {
    auto file = LockedPackageFile::lock(msi_path);
    RETURN_IF_FAILED(file);
    return std::make_unique<LockedPackage>(std::move(*file), msi_, installed_products_);
}

Status WindowsUpdateWorld::verify_update_signature(std::string_view version, std::string_view digest,
                                                   std::string_view signature, std::string_view key_id,
                                                   std::string_view algorithm) {
    return vostrane::verify_update_signature(version, digest, signature, key_id, algorithm);
}

Status WindowsUpdateWorld::wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) {
    return vostrane::wait_for_parent_exit(process_id, log_path);
}

std::optional<std::u16string> WindowsUpdateWorld::locate_installer() { return vostrane::locate_installer(); }

Result<std::int32_t> WindowsUpdateWorld::run_installer(const std::u16string& program,
                                                       const std::u16string& package_path,
                                                       const std::u16string& install_dir,
                                                       const std::u16string& msi_log_path) {
    auto exit_code = vostrane::run_installer(program, package_path, install_dir, msi_log_path);
    if (!exit_code) return failure(win::describe_io_error(exit_code.error()));
    return *exit_code;
}

void WindowsUpdateWorld::restart_application(const std::u16string& app_path, const std::u16string& install_dir,
                                             const std::u16string& log_path) {
    vostrane::restart_application(app_path, install_dir, log_path);
}

}  // namespace vostrane
