#pragma once
// Whom a package installs for, read from its own Property table. It decides
// where Windows Installer registers the product, what the inspection lets a
// package run (a per-machine package runs elevated, so the user's profile is
// no place to run anything from), and whether the signing tool warns about a
// missing Authenticode signature.
#include <optional>
#include <string_view>

namespace vostrane {

enum class InstallScope { per_user, per_machine };

// Per machine unless ALLUSERS is unset, or 2 with MSIINSTALLPERUSER=1 (the
// values as the package's Property table holds them; nothing when it has none).
InstallScope install_scope(std::optional<std::string_view> all_users,
                           std::optional<std::string_view> install_per_user);

}  // namespace vostrane
