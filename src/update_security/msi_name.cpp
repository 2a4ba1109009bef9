#include "msi_name.hpp"

#include "long_path.hpp"
#include "package_check.hpp"
#include "unicode.hpp"

namespace vostrane {

std::u16string_view final_path_component(std::u16string_view path) {
    auto separator = path.find_last_of(u"\\/");
    if (separator != std::u16string_view::npos) return path.substr(separator + 1);
    // "C:setup.msi" names setup.msi in drive C's current directory.
    return starts_with_drive(path) ? path.substr(2) : path;
}

bool has_msi_extension(std::u16string_view file_name) {
    auto dot = file_name.rfind(u'.');
    // No dot, or only a leading one as in ".msi": the name has no extension.
    if (dot == std::u16string_view::npos || dot == 0) return false;
    auto extension = utf16_to_utf8(file_name.substr(dot + 1));
    return extension && extension->size() == 3 && ascii_iequals(*extension, "msi");
}

}  // namespace vostrane
