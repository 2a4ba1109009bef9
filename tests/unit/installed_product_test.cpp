// Whether what Windows Installer registered is the package that was checked.
#include <gtest/gtest.h>

#include <map>
#include <span>
#include <vector>

#include "interface_texts.hpp"
#include "update_security/installed_product.hpp"

namespace vostrane {
namespace {

TEST(InstalledProduct, OnlyTheCheckedPackageInstalledCounts) {
    const PackageIdentity checked{"{5B0C7E21-9A43-4D1F-8E62-3C7F1A2B9D02}", "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
                                  "2.0.0"};
    struct Case {
        const char* name;
        InstalledProduct product;
        bool counts;
    };
    const Case cases[] = {
        {"installed from the checked package", {true, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"}, true},
        {"the code in another letter case", {true, "{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}"}, true},
        {"installed from another package of the product", {true, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F1}"}, false},
        {"not installed", {false, std::nullopt}, false},
        {"installed, package code unknown", {true, std::nullopt}, false},
        {"installed, package code empty", {true, ""}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(is_checked_package_installed(checked, c.product), c.counts);
    }
}


constexpr const char* kCheckedPackageCode = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

PackageIdentity checked_package(InstallScope scope) {
    return {"{5B0C7E21-9A43-4D1F-8E62-3C7F1A2B9D02}", kCheckedPackageCode, "2.0.0", scope};
}

// Windows Installer's registrations as a table: a context not in it knows
// nothing of the product; a failure stands for a query that got no answer.
class RegisteredProducts final : public InstalledProducts {
public:
    explicit RegisteredProducts(std::map<InstallContext, Result<InstalledProduct>> answers)
        : answers_(std::move(answers)) {}

    Result<InstalledProduct> query(std::string_view product_code, InstallContext context) override {
        EXPECT_EQ(product_code, "{5B0C7E21-9A43-4D1F-8E62-3C7F1A2B9D02}");
        asked.push_back(context);
        const auto answer = answers_.find(context);
        if (answer == answers_.end()) return InstalledProduct{};
        return answer->second;
    }

    std::vector<InstallContext> asked;

private:
    std::map<InstallContext, Result<InstalledProduct>> answers_;
};

const InstalledProduct kInstalledFromChecked{true, kCheckedPackageCode};
const InstalledProduct kAdvertisedFromChecked{false, kCheckedPackageCode};
const InstalledProduct kInstalledFromOther{true, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F1}"};
const Result<InstalledProduct> kNoAnswer = failure(std::string("MsiGetProductInfoEx failed: the service is busy"));

struct RegistrationCase {
    const char* name;
    InstallScope scope;
    std::map<InstallContext, Result<InstalledProduct>> registered;
    std::string outcome;  // the failure's message, empty for none
};

// Each case's outcome of the decision over its registrations: the failure's
// message, empty for none.
void expect_outcomes(std::span<const RegistrationCase> cases,
                     Status (*decide)(const PackageIdentity&, InstalledProducts&)) {
    for (const RegistrationCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegisteredProducts products(c.registered);
        const Status outcome = decide(checked_package(c.scope), products);
        EXPECT_EQ(outcome ? std::string() : outcome.error(), c.outcome);
    }
}

TEST(InstalledProduct, AProductRegisteredFromTheCheckedPackageBeforeTheRunIsRefused) {
    using enum InstallContext;
    const std::string refused(kPackageAlreadyInstalled);
    const RegistrationCase cases[] = {
        {"nothing registered, per user", InstallScope::per_user, {}, ""},
        {"nothing registered, per machine", InstallScope::per_machine, {}, ""},
        {"installed for the user", InstallScope::per_user, {{user_unmanaged, kInstalledFromChecked}}, refused},
        {"advertised to the user by an administrator", InstallScope::per_user,
         {{user_managed, kAdvertisedFromChecked}}, refused},
        {"installed for the machine", InstallScope::per_machine, {{machine, kInstalledFromChecked}}, refused},
        {"another package of the product installed", InstallScope::per_user,
         {{user_unmanaged, kInstalledFromOther}}, ""},
        {"a per-user registration does not answer for a per-machine package", InstallScope::per_machine,
         {{user_unmanaged, kInstalledFromChecked}, {user_managed, kInstalledFromChecked}}, ""},
        {"the machine's registration does not answer for a per-user package", InstallScope::per_user,
         {{machine, kInstalledFromChecked}}, ""},
        {"no answer is no all-clear", InstallScope::per_user, {{user_unmanaged, kNoAnswer}}, kNoAnswer.error()},
        {"no answer for the machine", InstallScope::per_machine, {{machine, kNoAnswer}}, kNoAnswer.error()},
    };
    expect_outcomes(cases, check_not_yet_installed);
}

TEST(InstalledProduct, OnlyTheCheckedPackageInstalledInItsOwnContextConfirmsTheRun) {
    using enum InstallContext;
    const std::string not_installed(kCheckedPackageNotInstalled);
    const RegistrationCase cases[] = {
        {"installed for the user", InstallScope::per_user, {{user_unmanaged, kInstalledFromChecked}}, ""},
        {"installed for the user, managed", InstallScope::per_user, {{user_managed, kInstalledFromChecked}}, ""},
        {"installed for the machine", InstallScope::per_machine, {{machine, kInstalledFromChecked}}, ""},
        {"nothing registered", InstallScope::per_user, {}, not_installed},
        {"advertised only", InstallScope::per_user, {{user_unmanaged, kAdvertisedFromChecked}}, not_installed},
        {"another package of the product", InstallScope::per_machine, {{machine, kInstalledFromOther}},
         not_installed},
        {"a per-user registration does not answer for a per-machine package", InstallScope::per_machine,
         {{user_unmanaged, kInstalledFromChecked}}, not_installed},
        {"the machine's registration does not answer for a per-user package", InstallScope::per_user,
         {{machine, kInstalledFromChecked}}, not_installed},
        {"no answer is no confirmation", InstallScope::per_machine, {{machine, kNoAnswer}}, not_installed},
        {"no answer in one of the user's contexts", InstallScope::per_user,
         {{user_managed, kNoAnswer}, {user_unmanaged, kInstalledFromChecked}}, not_installed},
        {"no answer in the other of them", InstallScope::per_user,
         {{user_managed, kInstalledFromChecked}, {user_unmanaged, kNoAnswer}}, not_installed},
    };
    expect_outcomes(cases, confirm_checked_package_installed);
}

TEST(InstalledProduct, ThePackageIsAskedForInTheContextsOfItsScope) {
    using enum InstallContext;
    RegisteredProducts per_user({}), per_machine({});
    (void)confirm_checked_package_installed(checked_package(InstallScope::per_user), per_user);
    (void)confirm_checked_package_installed(checked_package(InstallScope::per_machine), per_machine);
    EXPECT_EQ(per_user.asked, (std::vector{user_managed, user_unmanaged}));
    EXPECT_EQ(per_machine.asked, (std::vector{machine}));
}

TEST(InstalledProduct, ScopeFollowsAllUsersAndInstallPerUser) {
    struct Case {
        std::optional<std::string_view> all_users, per_user;
        InstallScope scope;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, InstallScope::per_user},
        {"", std::nullopt, InstallScope::per_user},
        {"1", std::nullopt, InstallScope::per_machine},
        {"1", "1", InstallScope::per_machine},
        {"2", std::nullopt, InstallScope::per_machine},
        {"2", "0", InstallScope::per_machine},
        {"2", "1", InstallScope::per_user},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.all_users.value_or("(none)")) + "/" + std::string(c.per_user.value_or("(none)")));
        EXPECT_EQ(install_scope(c.all_users, c.per_user), c.scope);
    }
}

// Wine's MsiGetProductInfoEx answers a package code in the registry's packed form.
TEST(InstalledProduct, APackedGuidIsUnpackedAndOtherTextKept) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"05CDFBE1C198CDD4D88E0519F122D2E2", "{1EBFDC50-891C-4DDC-8DE8-50911F222D2E}"},
        {"05cdfbe1c198cdd4d88e0519f122d2e2", "{1ebfdc50-891c-4ddc-8de8-50911f222d2e}"},
        {"{1EBFDC50-891C-4DDC-8DE8-50911F222D2E}", "{1EBFDC50-891C-4DDC-8DE8-50911F222D2E}"},
        {"05CDFBE1C198CDD4D88E0519F122D2E", "05CDFBE1C198CDD4D88E0519F122D2E"},
        {"05CDFBE1C198CDD4D88E0519F122D2EG", "05CDFBE1C198CDD4D88E0519F122D2EG"},
        {"", ""},
    };
    for (const auto& [text, unpacked] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(unpacked_guid(text), unpacked);
    }
}

}  // namespace
}  // namespace vostrane
