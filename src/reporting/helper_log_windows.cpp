#include <windows.h>

#include "reporting/helper_log.hpp"
#include "windows_path.hpp"
#include "win/file_io.hpp"
#include "win/system_message.hpp"

namespace vostrane {

namespace {

// Write rights without FILE_WRITE_DATA: every write lands at the current end
// of the file, so lines of another writer are never overwritten.
constexpr DWORD kAppendOnly = FILE_GENERIC_WRITE & ~FILE_WRITE_DATA;

std::uint64_t current_unix_seconds() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return unix_seconds_from_filetime((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

}  // namespace

Status prepare_helper_log(const std::u16string& path) {
    if (auto created = win::create_directories(parent_directory(path)); !created) {
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
