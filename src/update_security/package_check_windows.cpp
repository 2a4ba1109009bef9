// The package file checks against the Windows file system.
#include <windows.h>

#include "msi_name.hpp"
#include "package_check.hpp"
#include "package_digest.hpp"
#include "unicode.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"
#include "win/unique_handle.hpp"

namespace vostrane {
namespace {

// A disk file that is not a directory; pipes, consoles and devices are not.
bool is_regular_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool is_msi_package(const std::string& path) {
    const std::u16string name = utf8_to_utf16(path);
    // No access rights: only the metadata is queried, so a file that another
    // process holds without sharing still answers. Backup semantics let
    // directories open too, and without FILE_FLAG_OPEN_REPARSE_POINT links are
    // followed to their final target.
    win::unique_file file(::CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), 0, win::kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file || !is_regular_file(file.get())) return false;
    return has_msi_extension(final_path_component(name));
}

Result<std::string> compute_package_digest(const std::string& path) {
    win::unique_file file(::CreateFileW(win::wide_path(path).c_str(), GENERIC_READ, win::kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return failure(win::describe_last_error());
    return digest_stream([&file](std::span<std::uint8_t> buffer) -> Result<std::size_t> {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return failure(win::describe_last_error());
        }
        return read;
    });
}

}  // namespace vostrane
