// Whether what Windows Installer registered is the package that was checked.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vostrane
