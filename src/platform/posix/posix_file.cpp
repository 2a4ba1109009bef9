#include "posix_file.hpp"

#include <fcntl.h>

#include <cerrno>

#include "posix_error.hpp"

namespace vostrane {

unique_fd open_read_only(const std::string& path) { return unique_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

Result<std::size_t> read_some(int descriptor, std::span<std::uint8_t> buffer) {
    for (;;) {
        ssize_t count = ::read(descriptor, buffer.data(), buffer.size());
        if (count >= 0) return static_cast<std::size_t>(count);
        if (errno != EINTR) return failure(describe_posix_error(errno));
    }
}

}  // namespace vostrane
