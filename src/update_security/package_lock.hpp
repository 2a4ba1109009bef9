#pragma once
// The package held open from its digest until Windows Installer has read it,
// so that the bytes that were checked are the bytes that get installed, and
// the one file that was checked is the only file ever deleted.
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "installed_product.hpp"
#include "result.hpp"
#include "win/file_io.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {

class LockedPackageFile {
public:
    // Opens the package for reading, sharing it for reading only: while the
    // handle is open no process can write to, truncate, delete or rename the
    // file, yet Windows Installer can still open and read it. The handle is
    // not inheritable. Fails, with nothing to delete, when the file cannot be
    // opened or is not on a local disk.
    static Result<LockedPackageFile> lock(const std::u16string& msi_path);

    [[nodiscard]] HANDLE handle() const { return file_.get(); }

    // The path Windows Installer is given: the option's text when that already
    // is the locked file's final path, otherwise the final path itself.
    [[nodiscard]] const std::u16string& installer_path() const { return installer_path_; }

    // Whether the installer path still names the locked file. It is asked
    // after the wait, just before the installer is started.
    [[nodiscard]] Status confirm_installer_path() const;

    // Reads the package's database through Windows Installer's msi.dll, as the
    // installer will, by the installer path (or its short form, where that
    // is too long for msi.dll) while the lock is held; fails
    // with kPackageRefersToOutsideFiles when a cabinet or files would come
    // from beside it, with kNotAnMsiPackage when it cannot be read or names
    // no product, and with kPackageReplaced when the path does not lead to
    // the locked file, before msi.dll opens it or after, and with
    // kPackageNotSignedVersion when its ProductVersion contradicts the
    // version that was signed, and with kPackageAlreadyInstalled when its
    // product is registered from it already (or with the query's failure).
    // Remembers what identifies the package to Windows Installer.
    [[nodiscard]] Status check_contents(std::string_view signed_version, SharedMsiLibrary& msi,
                                        InstalledProducts& products);

    // Whether Windows Installer has the checked package's product installed
    // from the checked package (its package code) in the package's own
    // context; kCheckedPackageNotInstalled otherwise. Asked once the
    // installer has reported success.
    [[nodiscard]] Status confirm_installed(InstalledProducts& products) const;

    // Closes the handle; the package is free again. What identifies the file stays.
    void release() { file_.reset(); }

    // Deletes the file at the package's path only if it still is the file that
    // was locked and its final name ends in ".msi"; anything else is left
    // alone, as is every failure. Call after release().
    void delete_if_unchanged() const;

private:
    // Whether the path names the locked file now.
    [[nodiscard]] bool leads_to_locked_file(const std::u16string& path) const;

    LockedPackageFile(win::unique_file file, win::FileIdentity identity, std::u16string file_path,
                      std::u16string installer_path)
        : file_(std::move(file)),
          identity_(identity),
          file_path_(std::move(file_path)),
          installer_path_(std::move(installer_path)) {}

    win::unique_file file_;
    win::FileIdentity identity_;
    std::u16string file_path_;  // the package's path as file calls take it
    std::u16string installer_path_;
    std::optional<PackageIdentity> package_identity_;  // read by check_contents
};

// SHA-256 of the bytes read through the handle from its current position to
// the end, as 64 lower-case hex digits, or the failed read's description.
Result<std::string> compute_package_digest(HANDLE package);

// Opens a file for reading, sharing it for reading only, as the lock does.
Result<win::unique_file> open_shared_for_reading_only(const std::u16string& file_path);

}  // namespace vostrane
