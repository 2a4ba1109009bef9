#pragma once
// Whether Windows Installer installed the package that was checked. The
// installer opens the package by name once more; anything that redirects that
// name between the check and its open (a drive letter redefined for the
// user's session, for one) makes it install another package. What it then
// registers tells: the checked package's product, under the checked package's
// own package code, in the context the package installs in.
//
// What was registered before the run cannot tell anything: a package the user
// installed earlier with the checked package's codes (they are no secret) is
// taken by the installer for the product it maintains, from its own cached
// copy. So a product already registered from the checked package code is
// refused before the installer runs.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "install_scope.hpp"
#include "msi_database.hpp"
#include "package_facts.hpp"
#include "result.hpp"

namespace vostrane {

// Windows Installer's installation contexts (MSIINSTALLCONTEXT).
enum class InstallContext { user_managed, user_unmanaged, machine };

// Where a product of that scope is registered: per user in either of the
// user's own contexts (managed when an administrator advertised it), per
// machine in the machine's alone. A registration in another context never
// answers for the package.
std::span<const InstallContext> install_contexts(InstallScope scope);

// What identifies a package to Windows Installer, read from its database.
struct PackageIdentity {
    std::string product_code;  // the Property table's ProductCode
    std::string package_code;  // the summary information's revision number, PID 9
    std::string product_version;  // the Property table's ProductVersion; empty when it has none
    InstallScope scope = InstallScope::per_user;  // from ALLUSERS and MSIINSTALLPERUSER
};

inline constexpr std::uint32_t kSummaryPackageCode = 9;  // PID_REVNUMBER

// Both codes and the scope: the product code, version and scope from the
// properties already read, the package code from the reader's summary. A
// package without either code cannot be installed.
Result<PackageIdentity> package_identity(const PackageFacts& facts, MsiDatabaseReader& reader);

// What Windows Installer says of a product in one context.
struct InstalledProduct {
    bool installed = false;                   // its state is "installed" (INSTALLSTATE_DEFAULT), not only advertised
    std::optional<std::string> package_code;  // the package it was registered from, when registered
};

// Installed, and from a package with the checked package's code (GUIDs
// compared without regard to case).
bool is_checked_package_installed(const PackageIdentity& checked, const InstalledProduct& product);

// Registered from a package with the checked package's code, installed or
// only advertised.
bool is_registered_from_checked_package(const PackageIdentity& checked, const InstalledProduct& product);

// Windows Installer's registrations, as the helper's user sees them.
class InstalledProducts {
public:
    virtual ~InstalledProducts() = default;
    // The product in that context: not installed and no package code when it
    // is unknown there; a failure when Windows Installer could not be asked
    // or did not answer, which is never taken as an answer.
    virtual Result<InstalledProduct> query(std::string_view product_code, InstallContext context) = 0;
};

// Before the installer runs: kPackageAlreadyInstalled when the product is
// registered from the checked package in the package's contexts; the query's
// own failure when that cannot be known.
Status check_not_yet_installed(const PackageIdentity& checked, InstalledProducts& products);

// After the installer has reported success: the product installed from the
// checked package in one of the package's contexts; kCheckedPackageNotInstalled
// otherwise, and whenever a query fails.
Status confirm_checked_package_installed(const PackageIdentity& checked, InstalledProducts& products);

// A GUID in its registry form (32 hex digits: each field's digits reversed,
// the last eight bytes' nibbles swapped), as Wine's MsiGetProductInfoEx
// returns a package code, in its usual braced form; other text unchanged.
std::string unpacked_guid(std::string_view text);

#ifdef _WIN32
class SharedMsiLibrary;
// Asks msi.dll (MsiGetProductInfoEx), the run's own, loaded at the first query.
std::shared_ptr<InstalledProducts> msi_installed_products(std::shared_ptr<SharedMsiLibrary> msi);
// The same with an msi.dll of its own, kept while the registrations are.
std::shared_ptr<InstalledProducts> msi_installed_products();
#endif

}  // namespace vostrane
