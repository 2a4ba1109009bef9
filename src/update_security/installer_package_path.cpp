#include "installer_package_path.hpp"

#include "long_path.hpp"

namespace vostrane {
namespace {

// MAX_PATH counts the terminating NUL: a plain path has at most 259 characters.
constexpr std::size_t kMaxPath = 260;

}  // namespace

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
                                                   const ShortPathQuery& short_path) {
    std::u16string plain = without_extended_prefix(installer_path);
    if (plain.size() < kMaxPath) return plain;
    auto shorter = short_path(extended_length_form(plain));
    if (!shorter) return std::nullopt;
    plain = without_extended_prefix(*shorter);
    if (plain.size() < kMaxPath) return plain;
    return std::nullopt;
}

}  // namespace vostrane
