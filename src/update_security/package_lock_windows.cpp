// The package lock against the Windows file system.
#include <windows.h>

#include "installed_product.hpp"
#include "installer_package_path.hpp"
#include "msi_database.hpp"
#include "msi_library_windows.hpp"
#include "package_check.hpp"
#include "package_digest.hpp"
#include "package_inspection.hpp"
#include "package_lock.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"
#include "windows_path.hpp"

namespace vostrane {
namespace {

// Not windows_path's same_path, whose rule is another: that one takes '/'
// for '\\', drops trailing separators and folds ASCII letters only. Here the
// option's text is handed to the installer unchanged only when it is the
// final path itself, with the file system's own case rule for every letter;
// a text that differs in its separators gets the final path instead.
bool same_path_text(std::u16string_view a, std::u16string_view b) {
    // The comparison the file system makes of names: ordinal, ignoring case.
    return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                  reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// A drive letter can name a network share too.
bool on_network_drive(std::u16string_view final_path) {
    const std::u16string plain = without_extended_prefix(final_path);
    if (!starts_with_drive(plain)) return false;
    const std::u16string root = plain.substr(0, 2) + u"\\";
    return ::GetDriveTypeW(win::wide_c_str(root)) == DRIVE_REMOTE;
}

// Wine's GetFinalPathNameByHandleW has room for MAX_PATH characters only and
// answers ERROR_MORE_DATA beyond that. The same path is then the file's
// volume-relative path on the drive that the option's full path names; whether
// it leads to the locked file is confirmed before the installer is given it.
std::expected<std::u16string, IoError> final_path_beyond_max_path(HANDLE file, const std::u16string& msi_path) {
    const auto relative = win::volume_relative_path(file);
    RETURN_IF_FAILED(relative);
    const auto full = win::full_path(msi_path);
    RETURN_IF_FAILED(full);
    const std::u16string plain = without_extended_prefix(*full);
    if (!starts_with_drive(plain)) return std::unexpected(IoError::os_error(ERROR_MORE_DATA));
    return u"\\\\?\\" + plain.substr(0, 2) + *relative;
}

std::expected<std::u16string, IoError> locked_file_final_path(HANDLE file, const std::u16string& msi_path) {
    auto final = win::final_path(file);
    if (!final && final.error() == IoError::os_error(ERROR_MORE_DATA)) return final_path_beyond_max_path(file, msi_path);
    return final;
}

}  // namespace

// No security attributes: the handle is not inherited by the installer or the shell.
Result<win::unique_file> open_shared_for_reading_only(const std::u16string& file_path) {
    win::unique_file file(::CreateFileW(win::wide_c_str(file_path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return failure(win::describe_last_error());
    return file;
}

Result<LockedPackageFile> LockedPackageFile::lock(const std::u16string& msi_path) {
    std::u16string file_path = win::file_path(msi_path);
    auto file = open_shared_for_reading_only(file_path);
    RETURN_IF_FAILED(file);
    const auto final = locked_file_final_path(file->get(), msi_path);
    if (!final) return failure(win::describe_io_error(final.error()));
    if (is_network_path(*final) || on_network_drive(*final)) return failure(std::string(kPackageNotLocal));
    const auto identity = win::file_identity(file->get());
    if (!identity) return failure(win::describe_last_error());
    return LockedPackageFile(std::move(*file), *identity, std::move(file_path),
                             installer_package_path(msi_path, *final, same_path_text));
}

bool LockedPackageFile::leads_to_locked_file(const std::u16string& path) const {
    const auto named = win::open_shared(win::file_path(path), FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    return named && win::file_identity(named->get()) == identity_;
}

Status LockedPackageFile::confirm_installer_path() const {
    if (!leads_to_locked_file(installer_path_)) return failure(std::string(kPackageReplaced));
    return {};
}

Status LockedPackageFile::check_contents(std::string_view signed_version, SharedMsiLibrary& msi,
                                         InstalledProducts& products) {
    const auto path = package_reading_path(installer_path_, win::short_path);
    if (!path) return failure(std::string(kNotAnMsiPackage));
    // msi.dll opens the file by name: that name must lead to the locked file
    // when it opens it, and still when it has read it.
    if (!leads_to_locked_file(*path)) return failure(std::string(kPackageReplaced));
    auto database = open_msi_database(msi, *path);
    if (!database) return failure(std::string(kNotAnMsiPackage));
    // One reading of the tables serves both the judgement and the identity.
    const auto facts = read_installation_facts(**database);
    if (!facts) return failure(std::string(kNotAnMsiPackage));
    auto identity = package_identity(*facts, **database);
    if (!identity) return failure(std::string(kNotAnMsiPackage));
    if (!leads_to_locked_file(*path)) return failure(std::string(kPackageReplaced));
    RETURN_IF_FAILED(check_self_contained(*facts));
    if (contradicts_signed_version(identity->product_version, signed_version)) {
        return failure(std::string(kPackageNotSignedVersion));
    }
    RETURN_IF_FAILED(check_not_yet_installed(*identity, products));
    package_identity_ = std::move(*identity);
    return {};
}

Status LockedPackageFile::confirm_installed(InstalledProducts& products) const {
    if (!package_identity_) return failure(std::string(kCheckedPackageNotInstalled));
    return confirm_checked_package_installed(*package_identity_, products);
}

void LockedPackageFile::delete_if_unchanged() const {
    const auto named = win::open_shared(file_path_, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (!named || win::file_identity(named->get()) != identity_) return;
    const auto final = win::final_path(named->get());
    if (!final || !has_msi_extension(final_path_component(*final))) return;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    // Deleted through this handle, so no other file can be put in its place
    // between the checks above and the deletion.
    ::SetFileInformationByHandle(named->get(), FileDispositionInfo, &disposition, sizeof disposition);
}

Result<std::string> compute_package_digest(HANDLE package) {
    return digest_stream([package](std::span<std::uint8_t> buffer) -> Result<std::size_t> {
        DWORD read = 0;
        if (!::ReadFile(package, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return failure(win::describe_last_error());
        }
        return read;
    });
}

}  // namespace vostrane
