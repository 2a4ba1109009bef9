#include "win/windows_update_steps.hpp"

#include <windows.h>

#include "reporting/helper_log.hpp"
#include "reporting/result_file.hpp"
#include "update_security/package_check.hpp"
#include "update_security/update_signature.hpp"
#include "win/file_io.hpp"

namespace vostrane::win {
namespace {

// Waiting for the application, running Windows Installer and relaunching are
// not part of this build yet. A package that passes its checks must not be
// reported as installed, so the run stops before the wait.
constexpr std::string_view kInstallationUnavailable =
    "Waiting for the application and installing the update are not available in this build.";

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

Result<std::string> WindowsUpdateSteps::compute_package_digest(const std::string& msi_path) {
    return vostrane::compute_package_digest(msi_path);
}

Status WindowsUpdateSteps::verify_update_signature(std::string_view version, std::string_view digest,
                                                   std::string_view signature, std::string_view key_id,
                                                   std::string_view algorithm) {
    return vostrane::verify_update_signature(version, digest, signature, key_id, algorithm);
}

void WindowsUpdateSteps::delete_package(const std::string& msi_path) {
    ::DeleteFileW(wide_path(msi_path).c_str());  // a failure leaves it; nothing else to do
}

Status WindowsUpdateSteps::wait_for_parent_exit(std::uint32_t, const std::string&) {
    return failure(std::string(kInstallationUnavailable));
}

std::optional<std::string> WindowsUpdateSteps::locate_installer() { return std::nullopt; }

Result<std::int32_t> WindowsUpdateSteps::run_installer(const std::string&, const UpdateOptions&) {
    return failure(std::string(kInstallationUnavailable));
}

void WindowsUpdateSteps::restart_application(const UpdateOptions&, const std::string&) {}

}  // namespace vostrane::win
