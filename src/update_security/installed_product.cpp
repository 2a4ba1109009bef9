#include "installed_product.hpp"

#include <algorithm>
#include <array>

#include "hex.hpp"
#include "interface_texts.hpp"
#include "unicode.hpp"

namespace vostrane {

std::span<const InstallContext> install_contexts(InstallScope scope) {
    static constexpr std::array kPerUser = {InstallContext::user_managed, InstallContext::user_unmanaged};
    static constexpr std::array kPerMachine = {InstallContext::machine};
    if (scope == InstallScope::per_machine) return kPerMachine;
    return kPerUser;
}

Result<PackageIdentity> package_identity(const PackageFacts& facts, MsiDatabaseReader& reader) {
    PackageIdentity identity;
    identity.product_code = facts.property("ProductCode").value_or("");
    if (identity.product_code.empty()) return failure(std::string("The package has no ProductCode."));
    identity.product_version = facts.property("ProductVersion").value_or("");
    identity.scope = facts.install_scope();
    auto package_code = reader.summary_text(kSummaryPackageCode);
    RETURN_IF_FAILED(package_code);
    if (!*package_code || (*package_code)->empty()) return failure(std::string("The package has no package code."));
    identity.package_code = std::move(**package_code);
    return identity;
}

bool is_registered_from_checked_package(const PackageIdentity& checked, const InstalledProduct& product) {
    return product.package_code && ascii_iequals(*product.package_code, checked.package_code);
}

bool is_checked_package_installed(const PackageIdentity& checked, const InstalledProduct& product) {
    return product.installed && is_registered_from_checked_package(checked, product);
}

Status check_not_yet_installed(const PackageIdentity& checked, InstalledProducts& products) {
    for (const InstallContext context : install_contexts(checked.scope)) {
        const auto product = products.query(checked.product_code, context);
        RETURN_IF_FAILED(product);
        if (is_registered_from_checked_package(checked, *product)) return failure(std::string(kPackageAlreadyInstalled));
    }
    return {};
}

Status confirm_checked_package_installed(const PackageIdentity& checked, InstalledProducts& products) {
    bool confirmed = false;
    for (const InstallContext context : install_contexts(checked.scope)) {
        const auto product = products.query(checked.product_code, context);
        if (!product) return failure(std::string(kCheckedPackageNotInstalled));
        confirmed = confirmed || is_checked_package_installed(checked, *product);
    }
    if (!confirmed) return failure(std::string(kCheckedPackageNotInstalled));
    return {};
}

std::string unpacked_guid(std::string_view text) {
    constexpr std::size_t kPackedLength = 32;
    const bool packed = text.size() == kPackedLength && std::ranges::all_of(text, is_ascii_hex_digit);
    if (!packed) return std::string(text);
    // The first three fields are stored with their digits reversed, each
    // byte of the last two with its two digits swapped.
    const auto reversed = [&](std::size_t at, std::size_t length) {
        std::string field(text.substr(at, length));
        std::ranges::reverse(field);
        return field;
    };
    std::string guid = "{" + reversed(0, 8) + "-" + reversed(8, 4) + "-" + reversed(12, 4) + "-";
    for (std::size_t at = 16; at < kPackedLength; at += 2) {
        if (at == 20) guid += '-';
        guid += reversed(at, 2);
    }
    return guid + "}";
}

}  // namespace vostrane
