// The package file checks against a POSIX file system, for the native build and
// the signing tool on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "msi_name.hpp"
#include "package_check.hpp"
#include "package_digest.hpp"
#include "posix_error.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

class PosixFile {
public:
    explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    ~PosixFile() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    [[nodiscard]] int get() const { return descriptor_; }

private:
    int descriptor_;
};

}  // namespace

bool is_msi_package(const std::string& path) {
    struct stat status {};
    // stat follows symbolic links to their final target.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return has_msi_extension(final_path_component(utf8_to_utf16(path)));
}

Result<std::string> compute_package_digest(const std::string& path) {
    PosixFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return failure(describe_posix_error(errno));
    return digest_stream([&file](std::span<std::uint8_t> buffer) -> Result<std::size_t> {
        for (;;) {
            ssize_t read = ::read(file.get(), buffer.data(), buffer.size());
            if (read >= 0) return static_cast<std::size_t>(read);
            // An interrupted read has not failed; it has not started.
            if (errno != EINTR) return failure(describe_posix_error(errno));
        }
    });
}

}  // namespace vostrane
