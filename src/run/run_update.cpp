#include "run_update.hpp"

#include "interface_texts.hpp"
#include "options.hpp"
#include "unicode.hpp"
#include "update_security/package_check.hpp"

namespace vostrane {
namespace {

// One run's state: the options, which name the log and result every step writes to, and the package lock.
class UpdateRun {
public:
    UpdateRun(UpdateOptions options, UpdateWorld& world) : options_(std::move(options)), world_(world) {}

    RunResult run() {
        if (auto prepared = world_.prepare_helper_log(options_.helper_log_path); !prepared) {
            return RunResult::early_failure(prepared.error());
        }
        world_.clear_result_file(options_.result_path);
        log(kStarted);

        if (auto checked = check_package(); !checked) return reject_package(checked.error());

        if (auto waited = world_.wait_for_parent_exit(options_.parent_process_id, options_.helper_log_path); !waited) {
            return RunResult::early_failure(waited.error());
        }
        return install();
    }

private:
    // The checks run cheapest first; the signature is checked over the digest
    // computed here, never over the option text. The package stays locked from
    // its digest on, so what passed is what the installer gets.
    Status check_package() {
        if (!world_.is_msi_package(options_.msi_path)) return failure(std::string(kNotAnMsiPackage));
        auto locked = world_.lock_package(options_.msi_path);
        RETURN_IF_FAILED(locked);
        package_ = std::move(*locked);
        const auto digest = package_->digest();
        RETURN_IF_FAILED(digest);
        if (!digest_matches(*digest, options_.expected_sha256)) return failure(std::string(kDigestMismatch));
        RETURN_IF_FAILED(world_.verify_update_signature(options_.expected_version, *digest, options_.signature,
                                                        options_.key_id, options_.signature_algorithm));
        return package_->check_contents(options_.expected_version);
    }

    void release_package() {
        if (package_) package_->release();
    }

    enum class Deletion { of_the_checked_file, none };

    // Only a file the run opened and checked is deleted: a path that failed
    // the name check, could not be opened, or now leads elsewhere is left alone.
    RunResult reject_package(const std::string& message, Deletion deletion = Deletion::of_the_checked_file) {
        release_package();  // a locked file cannot be deleted
        if (package_ && deletion == Deletion::of_the_checked_file) package_->delete_if_unchanged();
        log(std::string(kPackageVerificationFailed) + message);
        return finish({std::string(kStatusError), static_cast<std::int32_t>(kFatalExitCode), message}, kFatalExitCode);
    }

    RunResult install() {
        const auto installer = world_.locate_installer();
        if (!installer) {
            release_package();
            log(kInstallerNotFound);
            return finish({std::string(kStatusError), static_cast<std::int32_t>(kFatalExitCode),
                           std::string(kInstallerNotFound)},
                          kFatalExitCode);
        }
        // The wait is over: the name the installer will open must still lead
        // to the file that was checked.
        const auto package_path = package_->confirm_installer_path();
        if (!package_path) return reject_package(package_path.error(), Deletion::none);
        log(kStartingInstaller);
        const auto exit_code = world_.run_installer(*installer, *package_path, options_.install_dir, options_.msi_log_path);
        release_package();
        if (!exit_code) {
            return RunResult::early_failure(std::string(kInstallerCouldNotStart) + exit_code.error());
        }
        const std::string exited = std::string(kInstallerExitedWithCode) + std::to_string(*exit_code) + ".";
        log(exited);
        if (reports_success(*exit_code)) {
            if (auto installed = package_->confirm_installed(); !installed) {
                log(installed.error());
                return finish({std::string(kStatusError), static_cast<std::int32_t>(kFatalExitCode), installed.error()},
                              kFatalExitCode);
            }
        }
        return finish_installation(*exit_code, exited);
    }

    // The exit codes whose outcome is not "error".
    static bool reports_success(std::int32_t code) {
        return code == 0 || code == kRestartInitiatedCode || code == kRestartRequiredCode;
    }

    RunResult finish_installation(std::int32_t code, const std::string& exited_message) {
        switch (code) {
            case 0:
                return finish({std::string(kStatusSuccess), 0, ""}, 0);
            case kRestartInitiatedCode:
                return finish({std::string(kStatusRestartInitiated), code, std::string(kRestartInitiatedMessage)}, 0,
                              Relaunch::no);
            case kRestartRequiredCode:
                return finish({std::string(kStatusRestartRequired), code, std::string(kRestartRequiredMessage)}, 0,
                              Relaunch::no);
            default:
                return finish({std::string(kStatusError), code, exited_message}, static_cast<std::uint32_t>(code));
        }
    }

    enum class Relaunch { yes, no };

    // The outcome is written before the relaunch, so the document is complete
    // before the application can start again.
    RunResult finish(const UpdateOutcome& outcome, std::uint32_t exit_code, Relaunch relaunch = Relaunch::yes) {
        world_.write_result_file(options_.result_path, outcome);
        if (relaunch == Relaunch::yes) {
            world_.restart_application(options_.app_path, options_.install_dir, options_.helper_log_path);
        }
        return RunResult::finished(exit_code);
    }

    void log(std::string_view message) { world_.append_log_line(options_.helper_log_path, message); }

    const UpdateOptions options_;
    UpdateWorld& world_;
    // Held from the digest until the installer has returned; an early end of
    // the run releases it with the run.
    std::unique_ptr<CheckedPackage> package_;
};

}  // namespace

Result<std::vector<std::string>> arguments_from_command_line(std::span<const std::u16string> split) {
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i < split.size(); ++i) {
        auto argument = utf16_to_utf8(split[i]);
        if (!argument) return failure(std::string(kArgumentsNotUnicode));
        arguments.push_back(std::move(*argument));
    }
    return arguments;
}

RunResult run_update(std::span<const std::string> arguments, UpdateWorld& world) {
    auto options = parse_options(arguments);
    if (!options) return RunResult::early_failure(options.error());
    return UpdateRun(std::move(*options), world).run();
}

}  // namespace vostrane
