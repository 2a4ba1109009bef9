// The package file checks against the Windows file system.
#include <windows.h>

#include "package_check.hpp"
#include "package_lock.hpp"
#include "unicode.hpp"
#include "win/file_io.hpp"
#include "windows_path.hpp"

namespace vostrane {

bool is_msi_package(const std::u16string& path) {
    return has_msi_extension(final_path_component(path)) && win::names_regular_file(win::file_path(path));
}

bool is_msi_package(const std::string& path) { return is_msi_package(utf8_to_utf16(path)); }

Result<std::string> compute_package_digest(const std::string& path) {
    auto package = open_shared_for_reading_only(win::file_path(path));
    RETURN_IF_FAILED(package);
    return compute_package_digest(package->get());
}

}  // namespace vostrane
