#pragma once
// A package the build made, copied as a product of its own for one run that
// installs it. The helper refuses a package whose product Windows Installer
// has registered from it already, so runs of one package file, in one test
// after another or at once, would refuse each other's.
#include <filesystem>
#include <string>

namespace vostrane::testing {

class FreshProduct {
public:
    // The package's bytes with a new ProductCode and package code.
    explicit FreshProduct(const std::filesystem::path& package);
    // Uninstalls the product where a run installed it.
    ~FreshProduct();
    FreshProduct(const FreshProduct&) = delete;
    FreshProduct& operator=(const FreshProduct&) = delete;

    [[nodiscard]] const std::string& bytes() const { return bytes_; }

private:
    std::wstring product_code_;
    std::string bytes_;
};

}  // namespace vostrane::testing
