#pragma once
// The helper log: one "[{unix seconds}] {message}\n" line per step of the run,
// identified only by its path.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace vostrane {

// FILETIME (100 ns units since 1601) to whole Unix seconds; 0 before 1970.
std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime);

std::string format_log_line(std::uint64_t unix_seconds, std::string_view message);

// Creates the log's missing parent directories and an empty log file. Fails
// with the I/O error's description. (Windows)
Status prepare_helper_log(const std::u16string& path);

// Appends one time-stamped line; failures are ignored. (Windows)
void append_log_line(const std::u16string& path, std::string_view message);

}  // namespace vostrane
