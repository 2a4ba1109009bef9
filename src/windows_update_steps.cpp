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

// The package's open handle: it shares the file for reading only.
class LockedPackageFile final : public PackageLock {
public:
    explicit LockedPackageFile(win::unique_file file) : file_(std::move(file)) {}
    [[nodiscard]] HANDLE get() const { return file_.get(); }

private:
    win::unique_file file_;
};

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

Result<LockedPackageDigest> WindowsUpdateSteps::compute_package_digest(const std::string& msi_path) {
    auto file = open_package_locked(msi_path);
    if (!file) return failure(file.error());
    auto lock = std::make_unique<LockedPackageFile>(std::move(*file));
    auto digest = vostrane::compute_package_digest(lock->get());
    if (!digest) return failure(digest.error());
    return LockedPackageDigest{std::move(*digest), std::move(lock)};
}

void WindowsUpdateSteps::release_package(std::unique_ptr<PackageLock> lock) { lock.reset(); }

Status WindowsUpdateSteps::verify_update_signature(std::string_view version, std::string_view digest,
                                                   std::string_view signature, std::string_view key_id,
                                                   std::string_view algorithm) {
    return vostrane::verify_update_signature(version, digest, signature, key_id, algorithm);
}

void WindowsUpdateSteps::delete_package(const std::string& msi_path) {
    ::DeleteFileW(win::wide_path(msi_path).c_str());  // a failure leaves it; nothing else to do
}

Status WindowsUpdateSteps::wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path) {
    return vostrane::wait_for_parent_exit(process_id, log_path);
}

std::optional<std::u16string> WindowsUpdateSteps::locate_installer() { return vostrane::locate_installer(); }

Result<std::int32_t> WindowsUpdateSteps::run_installer(const std::u16string& program, const UpdateOptions& options) {
    auto exit_code = vostrane::run_installer(program, options);
    if (!exit_code) return failure(win::describe_io_error(exit_code.error()));
    return *exit_code;
}

void WindowsUpdateSteps::restart_application(const UpdateOptions& options, const std::string& log_path) {
    vostrane::restart_application(options, log_path);
}

}  // namespace vostrane
