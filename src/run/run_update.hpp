#pragma once
// One update run, from the parsed options to the outcome and exit code.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "interface_texts.hpp"
#include "options.hpp"
#include "reporting/result_file.hpp"
#include "result.hpp"

namespace vostrane {

// What run_update hands to the process entry: the process exit code and, after
// an early failure, the message for standard error (the code is then 1603).
struct RunResult {
    std::uint32_t code = 0;
    std::optional<std::string> early_failure_message;

    static RunResult exit_code(std::uint32_t exit_code) { return {exit_code, std::nullopt}; }
    static RunResult early_failure(std::string message) { return {kFatalExitCode, std::move(message)}; }

    [[nodiscard]] bool is_early_failure() const { return early_failure_message.has_value(); }
    [[nodiscard]] const std::string& message() const { return *early_failure_message; }
    [[nodiscard]] std::uint32_t process_exit_code() const { return code; }
};

// Keeps the checked package from being changed, deleted or renamed while it
// is held, and remembers which file it was once it is released: the installer
// must install the bytes that were checked, and only that file is ever deleted.
class PackageLock {
public:
    virtual ~PackageLock() = default;
};

// The steps that touch the world, as the functions the run calls. The Windows
// build fills them with the real steps, most of them the modules' functions
// themselves; tests fill them with stand-ins, so that the run's order and
// decisions are tested alone.
struct UpdateSteps {
    std::function<Status(const std::u16string& path)> prepare_helper_log;
    std::function<void(const std::u16string& path, std::string_view message)> append_log_line;
    std::function<void(const std::u16string& path)> clear_result_file;
    std::function<void(const std::u16string& path, const UpdateOutcome& outcome)> write_result_file;

    std::function<bool(const std::u16string& msi_path)> is_msi_package;
    // Opens and locks the package. A failure (it cannot be opened, or it is not
    // on a local disk) leaves nothing that was checked, so nothing is deleted.
    std::function<Result<std::unique_ptr<PackageLock>>(const std::u16string& msi_path)> lock_package;
    std::function<Result<std::string>(PackageLock& package)> compute_package_digest;
    // Lets go of the file; the package is free again.
    std::function<void(PackageLock& package)> release_package;
    std::function<Status(std::string_view version, std::string_view digest, std::string_view signature,
                         std::string_view key_id, std::string_view algorithm)>
        verify_update_signature;
    // Refuses a package that Windows Installer would not take whole from the
    // locked file (a cabinet or files beside it). Called only after the
    // signature verified, so that only the publisher's bytes are parsed.
    std::function<Status(PackageLock& package)> inspect_package;
    // Deletes a rejected, released package, but only if the path still leads
    // to the file that was locked; failures are ignored.
    std::function<void(const std::u16string& msi_path, const PackageLock& package)> delete_package;
    // The package path for the installer, once it is confirmed to name the
    // locked file; or why not.
    std::function<Result<std::u16string>(const PackageLock& package)> confirm_installer_package;

    // Whether Windows Installer registered the checked package's product as
    // installed from the checked package; kCheckedPackageNotInstalled if not.
    // Asked after an exit code that reports success, so that a package other
    // than the checked one never passes for an installed update.
    std::function<Status(const PackageLock& package)> confirm_package_installed;

    // Proceeds when the process has ended or cannot be opened; logs its own lines.
    std::function<Status(std::uint32_t process_id, const std::u16string& log_path)> wait_for_parent_exit;
    // The installer program, or nothing when it is not found.
    std::function<std::optional<std::u16string>()> locate_installer;
    // The installer's exit code, or the launch error's description.
    std::function<Result<std::int32_t>(const std::u16string& program, const std::u16string& package_path,
                                       const std::u16string& install_dir, const std::u16string& msi_log_path)>
        run_installer;
    // Relaunches the application; logs its own lines and never fails the run.
    std::function<void(const std::u16string& app_path, const std::u16string& install_dir,
                       const std::u16string& log_path)>
        restart_application;
};

// Converts each argument (program name first, as split from the command line)
// to UTF-8 and drops the program name; fails on an unpaired surrogate.
Result<std::vector<std::string>> arguments_from_command_line(std::span<const std::u16string> split);

// Runs one update. `arguments` excludes the program name.
RunResult run_update(std::span<const std::string> arguments, const UpdateSteps& steps);

}  // namespace vostrane
