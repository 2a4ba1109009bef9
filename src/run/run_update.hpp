#pragma once
// One update run, from the parsed options to the outcome and exit code.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "interface_texts.hpp"
#include "options.hpp"
#include "reporting/result_file.hpp"
#include "result.hpp"

namespace vostrane {

// What run_update hands to the process entry: an exit code, or an early-failure
// message for standard error (the process then exits with 1603).
class RunResult {
public:
    static RunResult exit_code(std::uint32_t code) { return RunResult(code); }
    static RunResult early_failure(std::string message) { return RunResult(std::move(message)); }

    [[nodiscard]] bool is_early_failure() const { return std::holds_alternative<std::string>(value_); }
    [[nodiscard]] const std::string& message() const { return std::get<std::string>(value_); }
    // The process exit code: the run's code, or 1603 after an early failure.
    [[nodiscard]] std::uint32_t process_exit_code() const {
        return is_early_failure() ? kFatalExitCode : std::get<std::uint32_t>(value_);
    }

private:
    explicit RunResult(std::uint32_t code) : value_(code) {}
    explicit RunResult(std::string message) : value_(std::move(message)) {}
    std::variant<std::uint32_t, std::string> value_;
};

// Keeps the checked package from being changed, deleted or renamed while it
// is held, and remembers which file it was once it is released: the installer
// must install the bytes that were checked, and only that file is ever deleted.
class PackageLock {
public:
    virtual ~PackageLock() = default;
};

// The steps that touch the world. The Windows build wires in the real ones;
// tests give stand-ins, so that the run's order and decisions are tested alone.
class UpdateSteps {
public:
    virtual ~UpdateSteps() = default;

    virtual Status prepare_helper_log(const std::string& path) = 0;
    virtual void append_log_line(const std::string& path, std::string_view message) = 0;
    virtual void clear_result_file(const std::string& path) = 0;
    virtual void write_result_file(const std::string& path, const UpdateOutcome& outcome) = 0;

    virtual bool is_msi_package(const std::string& msi_path) = 0;
    // Opens and locks the package. A failure (it cannot be opened, or it is not
    // on a local disk) leaves nothing that was checked, so nothing is deleted.
    virtual Result<std::unique_ptr<PackageLock>> lock_package(const std::string& msi_path) = 0;
    virtual Result<std::string> compute_package_digest(PackageLock& package) = 0;
    // Lets go of the file; the package is free again.
    virtual void release_package(PackageLock& package) = 0;
    virtual Status verify_update_signature(std::string_view version, std::string_view digest,
                                           std::string_view signature, std::string_view key_id,
                                           std::string_view algorithm) = 0;
    // Deletes a rejected, released package, but only if the path still leads
    // to the file that was locked; failures are ignored.
    virtual void delete_package(const std::string& msi_path, const PackageLock& package) = 0;
    // The package path for the installer, once it is confirmed to name the
    // locked file; or why not.
    virtual Result<std::u16string> confirm_installer_package(const PackageLock& package) = 0;

    // Proceeds when the process has ended or cannot be opened; logs its own lines.
    virtual Status wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path) = 0;
    // The installer program, or nothing when it is not found.
    virtual std::optional<std::u16string> locate_installer() = 0;
    // The installer's exit code, or the launch error's description.
    virtual Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                               const UpdateOptions& options) = 0;
    // Relaunches the application; logs its own lines and never fails the run.
    virtual void restart_application(const UpdateOptions& options, const std::string& log_path) = 0;
};

// Converts each argument (program name first, as split from the command line)
// to UTF-8 and drops the program name; fails on an unpaired surrogate.
Result<std::vector<std::string>> arguments_from_command_line(std::span<const std::u16string> split);

// Runs one update. `arguments` excludes the program name.
RunResult run_update(std::span<const std::string> arguments, UpdateSteps& steps);

}  // namespace vostrane
