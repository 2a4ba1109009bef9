#include "installed_product.hpp"

#include <array>

#include "unicode.hpp"

namespace vostrane {

Result<PackageIdentity> read_package_identity(MsiDatabaseReader& reader) {
    static constexpr std::array<std::string_view, 2> kProperty = {"Property", "Value"};
    auto properties = reader.rows("Property", kProperty);
    if (!properties) return failure(properties.error());
    PackageIdentity identity;
    for (auto& row : *properties) {
        if (row.size() != kProperty.size()) continue;
        if (row[0] == "ProductCode") identity.product_code = std::move(row[1]);
        if (row[0] == "ProductVersion") identity.product_version = std::move(row[1]);
    }
    if (identity.product_code.empty()) return failure(std::string("The package has no ProductCode."));
    auto package_code = reader.summary_text(kSummaryPackageCode);
    if (!package_code) return failure(package_code.error());
    if (!*package_code || (*package_code)->empty()) return failure(std::string("The package has no package code."));
    identity.package_code = std::move(**package_code);
    return identity;
}

bool is_checked_package_installed(const PackageIdentity& checked, const InstalledProduct& product) {
    return product.installed && product.package_code && ascii_iequals(*product.package_code, checked.package_code);
}

}  // namespace vostrane
