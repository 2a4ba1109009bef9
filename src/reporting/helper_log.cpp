#include "reporting/helper_log.hpp"

#include <string>

namespace vostrane {

namespace {
// 1970-01-01 00:00:00 UTC as a FILETIME: 100-nanosecond intervals since 1601.
constexpr std::uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
constexpr std::uint64_t kFiletimeUnitsPerSecond = 10000000ULL;

}  // namespace

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    if (filetime < kUnixEpochAsFiletime) return 0;
    return (filetime - kUnixEpochAsFiletime) / kFiletimeUnitsPerSecond;
}

std::string format_log_line(std::uint64_t unix_seconds, std::string_view message) {
    std::string line = "[";
    line += std::to_string(unix_seconds);
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

}  // namespace vostrane
