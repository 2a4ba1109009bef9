// The package file checks against the Windows file system.
#include <windows.h>

#include "msi_name.hpp"
#include "package_check.hpp"
#include "package_digest.hpp"
#include "package_lock.hpp"
#include "unicode.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"

namespace vostrane {

bool is_msi_package(const std::string& path) {
    const std::u16string name = utf8_to_utf16(path);
    return win::names_regular_file(win::file_path(path)) && has_msi_extension(final_path_component(name));
}

Result<win::unique_file> open_package_locked(const std::string& path) {
    // No security attributes: the handle is not inherited by the installer or the shell.
    win::unique_file file(::CreateFileW(win::wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return failure(win::describe_last_error());
    return file;
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

Result<std::string> compute_package_digest(const std::string& path) {
    auto package = open_package_locked(path);
    if (!package) return failure(package.error());
    return compute_package_digest(package->get());
}

}  // namespace vostrane
