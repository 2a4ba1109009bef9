#include "installer_package_path.hpp"

#include "windows_path.hpp"

namespace vostrane {

bool is_network_path(std::u16string_view final_path) {
    return without_extended_prefix(final_path).starts_with(u"\\\\");
}

std::u16string installer_package_path(std::u16string_view msi_path, std::u16string_view final_path,
                                      const PathTextsEqual& same_path_text) {
    std::u16string plain = without_extended_prefix(final_path);
    if (same_path_text(msi_path, plain)) return std::u16string(msi_path);
    if (plain.size() < kMaxPath) return plain;
    return std::u16string(final_path);
}

std::optional<std::u16string> package_reading_path(std::u16string_view installer_path,
                                                   const ShortFormQuery& short_form) {
    return usable_by_limited_call(without_extended_prefix(installer_path), reaches_max_path, short_form);
}

}  // namespace vostrane
