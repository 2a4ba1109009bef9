// The package file checks against a POSIX file system, for the native build and
// the signing tool on Linux.
#include <sys/stat.h>

#include <cerrno>

#include "windows_path.hpp"
#include "package_check.hpp"
#include "package_digest.hpp"
#include "posix/posix_error.hpp"
#include "posix/posix_file.hpp"
#include "unicode.hpp"

namespace vostrane {

bool is_msi_package(const std::string& path) {
    struct stat status {};
    // stat follows symbolic links to their final target.
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return has_msi_extension(final_path_component(utf8_to_utf16(path)));
}

Result<std::string> compute_package_digest(const std::string& path) {
    unique_fd file = open_read_only(path);
    if (!file.valid()) return failure(describe_posix_error(errno));
    return digest_stream([&file](std::span<std::uint8_t> buffer) { return read_some(file.get(), buffer); });
}

}  // namespace vostrane
