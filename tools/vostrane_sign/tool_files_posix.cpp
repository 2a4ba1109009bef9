#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tool_files.hpp"
#include "posix/posix_error.hpp"
#include "posix/posix_file.hpp"

namespace vostrane::sign_tool {
namespace {

constexpr std::size_t kMaximumKeyFileSize = 64 * 1024;

std::string last_error() { return describe_posix_error(errno); }

}  // namespace

Result<KeyFileContent> read_key_file(const std::string& path) {
    unique_fd file = open_read_only(path);
    if (!file.valid()) return failure("Cannot open " + path + ": " + last_error());
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return failure("Cannot read " + path + ": " + last_error());
    KeyFileContent content{SecretBytes(kMaximumKeyFileSize + 1), status.st_mode & 07777u};
    // Read straight into the secret's own storage: no buffer is left to wipe.
    for (;;) {
        const std::span<char> room = content.bytes.unused();
        if (room.empty()) return failure(path + " is too large to be a key file.");
        auto count = read_some(file.get(), {reinterpret_cast<std::uint8_t*>(room.data()), room.size()});
        if (!count) return failure("Cannot read " + path + ": " + count.error());
        if (*count == 0) return content;
        content.bytes.grow(*count);
    }
}

Status create_new_file(const std::string& path, std::string_view content, FileAccess access) {
    mode_t mode = access == FileAccess::owner_only ? 0600 : 0644;
    unique_fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.valid()) return failure("Cannot create " + path + ": " + last_error());
    // The umask can only take permissions away; set them exactly anyway.
    bool written = ::fchmod(file.get(), mode) == 0;
    for (std::size_t done = 0; written && done < content.size();) {
        ssize_t count = ::write(file.get(), content.data() + done, content.size() - done);
        if (count < 0 && errno == EINTR) continue;
        written = count > 0;
        if (written) done += static_cast<std::size_t>(count);
    }
    if (!written) {
        std::string message = "Cannot write " + path + ": " + last_error();
        ::unlink(path.c_str());
        return failure(message);
    }
    return {};
}

void remove_created_file(const std::string& path) { ::unlink(path.c_str()); }

void use_binary_standard_output() {}

}  // namespace vostrane::sign_tool
