#pragma once
// POSIX file descriptors for the native build: an owner and the read loop step.
#include <unistd.h>

#include <cstdint>
#include <span>
#include <string>

#include "result.hpp"

namespace vostrane {

class unique_fd {
public:
    explicit unique_fd(int descriptor) : descriptor_(descriptor) {}
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() {
        if (valid()) ::close(descriptor_);
    }
    [[nodiscard]] int get() const { return descriptor_; }
    [[nodiscard]] bool valid() const { return descriptor_ >= 0; }

private:
    int descriptor_;
};

// open(path, O_RDONLY); check valid() and errno.
unique_fd open_read_only(const std::string& path);

// One read(): the count (0 at the end of the file) or the error's description.
// A read that a signal interrupted has not started and is made again.
Result<std::size_t> read_some(int descriptor, std::span<std::uint8_t> buffer);

}  // namespace vostrane
