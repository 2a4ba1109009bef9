// The name half of the MSI check.
#include "package_check.hpp"
#include "unicode.hpp"

namespace vostrane {

bool has_msi_extension(std::u16string_view file_name) {
    auto dot = file_name.rfind(u'.');
    // No dot, or only a leading one as in ".msi": the name has no extension.
    if (dot == std::u16string_view::npos || dot == 0) return false;
    auto extension = utf16_to_utf8(file_name.substr(dot + 1));
    return extension && extension->size() == 3 && ascii_iequals(*extension, "msi");
}

}  // namespace vostrane
