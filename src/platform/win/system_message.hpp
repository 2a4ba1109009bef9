#pragma once
// The system's message texts for Windows error codes (FormatMessageW).
#include <cstdint>
#include <string>

#include "io_error.hpp"

namespace vostrane::win {

std::string system_message(std::uint32_t code);

// describe_io_error with the system's own messages.
inline std::string describe_io_error(const IoError& error) {
    return vostrane::describe_io_error(error, system_message);
}

// The description of the calling thread's last error (GetLastError).
std::string describe_last_error();

}  // namespace vostrane::win
