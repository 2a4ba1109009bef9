#include "install_scope.hpp"

namespace vostrane {

InstallScope install_scope(std::optional<std::string_view> all_users,
                           std::optional<std::string_view> install_per_user) {
    const std::string_view value = all_users.value_or("");
    if (value.empty() || (value == "2" && install_per_user == "1")) return InstallScope::per_user;
    return InstallScope::per_machine;
}

}  // namespace vostrane
