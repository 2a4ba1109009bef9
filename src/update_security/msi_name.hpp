#pragma once
// The name half of the MSI check; has_msi_extension is declared in package_check.hpp.
#include <string_view>

namespace vostrane {

// The last component of a Windows path: the text after the last "\" or "/",
// or after a leading drive such as "C:". Empty when the path ends in a separator.
std::u16string_view final_path_component(std::u16string_view path);

}  // namespace vostrane
