#include "io_error.hpp"

#include <string>

namespace vostrane {

std::string describe_io_error(const IoError& error, const SystemMessageSource& system_message) {
    if (!error.is_os_error()) return error.text();
    const std::uint32_t code = error.os_code();
    // Windows error codes are shown as the signed 32-bit numbers that
    // GetLastError's callers usually print, so NT-style codes come out negative.
    return system_message(code) + " (os error " + std::to_string(static_cast<std::int32_t>(code)) + ")";
}

std::string_view trim_trailing_message_space(std::string_view text) {
    const auto last_kept = text.find_last_not_of("\t\n\f\r ");
    return last_kept == std::string_view::npos ? std::string_view{} : text.substr(0, last_kept + 1);
}

}  // namespace vostrane
