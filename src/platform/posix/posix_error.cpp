#include "posix_error.hpp"

#include <cstring>

#include "io_error.hpp"

namespace vostrane {

std::string describe_posix_error(int error_number) {
    return describe_io_error(IoError::os_error(static_cast<std::uint32_t>(error_number)),
                             [](std::uint32_t code) { return std::string(std::strerror(static_cast<int>(code))); });
}

}  // namespace vostrane
