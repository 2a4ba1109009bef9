#pragma once
// What a run does to the world, as two small interfaces: the world itself
// (the log, the result file, the package's name, the wait, the installer, the
// relaunch) and the package the run holds once it has locked it. The Windows
// build implements them with the modules' real steps; tests implement them
// with stand-ins, so that the run's order and decisions are tested alone.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "reporting/result_file.hpp"
#include "result.hpp"

namespace vostrane {

// The package from its lock on: kept from being changed, deleted or renamed
// while it is held, and still known as that file once it is released, since
// the installer must install the bytes that were checked and only that file is
// ever deleted.
class CheckedPackage {
public:
    virtual ~CheckedPackage() = default;

    // The SHA-256 of its bytes, 64 lower-case hex digits, or why it could not
    // be read.
    virtual Result<std::string> digest() = 0;
    // Refuses a package that Windows Installer would not take whole from the
    // locked file (anything from beside it) or whose ProductVersion is another
    // version than the signed one, or whose product Windows Installer has
    // registered from it already (nothing the installer then does could be
    // told from what was there), and remembers what identifies it to
    // Windows Installer. Asked only after the signature verified, so that
    // only the publisher's bytes are parsed.
    virtual Status check_contents(std::string_view signed_version) = 0;
    // The path to give the installer, once it is confirmed to name the locked
    // file; or why not.
    [[nodiscard]] virtual Result<std::u16string> confirm_installer_path() const = 0;
    // Lets go of the file; the package is free again.
    virtual void release() = 0;
    // Deletes the released package, but only if its path still leads to the
    // file that was locked; failures are ignored.
    virtual void delete_if_unchanged() const = 0;
    // Whether Windows Installer has the checked package's product installed
    // from the checked package, in the context the package installs in;
    // kCheckedPackageNotInstalled if not, or if it cannot say. Asked
    // after an exit code that reports success, so that another package never
    // passes for the installed update.
    [[nodiscard]] virtual Status confirm_installed() const = 0;
};

// Everything else the run does outside itself. The paths are the options'.
class UpdateWorld {
public:
    virtual ~UpdateWorld() = default;

    virtual Status prepare_helper_log(const std::u16string& log_path) = 0;
    // Never fails the run: its own failures are ignored.
    virtual void append_log_line(const std::u16string& log_path, std::string_view message) = 0;
    virtual void clear_result_file(const std::u16string& result_path) = 0;
    virtual void write_result_file(const std::u16string& result_path, const UpdateOutcome& outcome) = 0;

    virtual bool is_msi_package(const std::u16string& msi_path) = 0;
    // Opens and locks the package. A failure (it cannot be opened, or it is not
    // on a local disk) leaves nothing that was checked, so nothing is deleted.
    virtual Result<std::unique_ptr<CheckedPackage>> lock_package(const std::u16string& msi_path) = 0;
    virtual Status verify_update_signature(std::string_view version, std::string_view digest,
                                           std::string_view signature, std::string_view key_id,
                                           std::string_view algorithm) = 0;

    // Proceeds when the process has ended or cannot be opened; logs its own lines.
    virtual Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) = 0;
    // The installer program, or nothing when it is not found.
    virtual std::optional<std::u16string> locate_installer() = 0;
    // The installer's exit code, or the launch error's description.
    virtual Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                               const std::u16string& install_dir,
                                               const std::u16string& msi_log_path) = 0;
    // Relaunches the application; logs its own lines and never fails the run.
    virtual void restart_application(const std::u16string& app_path, const std::u16string& install_dir,
                                     const std::u16string& log_path) = 0;
};

}  // namespace vostrane
