#include <windows.h>

#include <vector>

#include "reporting/helper_log.hpp"
#include "windows_path.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"

namespace vostrane {

namespace {

// Write rights without FILE_WRITE_DATA: every write lands at the current end
// of the file, so lines of another writer are never overwritten.
constexpr DWORD kAppendOnly = FILE_GENERIC_WRITE & ~FILE_WRITE_DATA;

enum class MakeDirectory { created_or_exists, parent_missing, failed };

struct MakeDirectoryResult {
    MakeDirectory outcome;
    IoError error = IoError::os_error(ERROR_SUCCESS);
};

MakeDirectoryResult make_directory(std::u16string_view directory) {
    const std::u16string path = win::file_path(std::u16string(directory));
    if (::CreateDirectoryW(win::wide_c_str(path), nullptr)) return {MakeDirectory::created_or_exists};
    const DWORD code = ::GetLastError();
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) {
        return {MakeDirectory::parent_missing, IoError::os_error(code)};
    }
    // Existing directories, and roots, which refuse creation in various ways.
    if (win::is_directory(path)) return {MakeDirectory::created_or_exists};
    return {MakeDirectory::failed, IoError::os_error(code)};
}

// Creates the directory and every missing one above it.
std::expected<void, IoError> create_directories(std::u16string_view directory) {
    // Walk up until a directory exists or can be made, then create the
    // missing ones below it, top down.
    std::vector<std::u16string_view> missing;
    for (std::u16string_view current = directory; !current.empty(); current = parent_directory(current)) {
        const MakeDirectoryResult made = make_directory(current);
        if (made.outcome == MakeDirectory::created_or_exists) break;
        if (made.outcome == MakeDirectory::failed || parent_directory(current).empty()) {
            return std::unexpected(made.error);
        }
        missing.push_back(current);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const MakeDirectoryResult made = make_directory(*it);
        if (made.outcome != MakeDirectory::created_or_exists) return std::unexpected(made.error);
    }
    return {};
}

std::uint64_t current_unix_seconds() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return unix_seconds_from_filetime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

}  // namespace

Status prepare_helper_log(const std::u16string& path) {
    if (auto created = create_directories(parent_directory(path)); !created) {
        return failure(win::describe_io_error(created.error()));
    }
    if (auto file = win::open_truncated(win::file_path(path)); !file) {
        return failure(win::describe_io_error(file.error()));
    }
    return {};
}

void append_log_line(const std::u16string& path, std::string_view message) {
    const std::string line = format_log_line(current_unix_seconds(), message);
    // The log is best effort once set up: a line that cannot be written is lost.
    if (auto file = win::open_shared(win::file_path(path), kAppendOnly, OPEN_ALWAYS)) {
        (void)win::write_all(file->get(), line);
    }
}

}  // namespace vostrane
