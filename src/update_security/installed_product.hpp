#pragma once
// Whether Windows Installer installed the package that was checked. The
// installer opens the package by name once more; anything that redirects that
// name between the check and its open (a drive letter redefined for the
// user's session, for one) makes it install another package. What it then
// registers tells: the checked package's product, under the checked package's
// own package code.
#include <optional>
#include <string>
#include <string_view>

#include "msi_database.hpp"
#include "result.hpp"

namespace vostrane {

// What identifies a package to Windows Installer, read from its database.
struct PackageIdentity {
    std::string product_code;  // the Property table's ProductCode
    std::string package_code;  // the summary information's revision number, PID 9
    std::string product_version;  // the Property table's ProductVersion; empty when it has none
};

inline constexpr std::uint32_t kSummaryPackageCode = 9;  // PID_REVNUMBER

// Reads both codes; a package without either cannot be installed.
Result<PackageIdentity> read_package_identity(MsiDatabaseReader& reader);

// What Windows Installer says of a product once the installer has run.
struct InstalledProduct {
    bool installed = false;                   // its state is "installed" (INSTALLSTATE_DEFAULT)
    std::optional<std::string> package_code;  // the package it was installed from, when installed
};

// Installed, and from a package with the checked package's code (GUIDs
// compared without regard to case).
bool is_checked_package_installed(const PackageIdentity& checked, const InstalledProduct& product);

#ifdef _WIN32
// Asks msi.dll about the product (MsiQueryProductState, MsiGetProductInfo).
Result<InstalledProduct> query_installed_product(std::string_view product_code);
#endif

}  // namespace vostrane
