// What Windows Installer has registered, asked through msi.dll.
#include <memory>
#include <utility>

#include "installed_product.hpp"
#include "msi_library_windows.hpp"
#include "unicode.hpp"
#include "win/wide_text.hpp"

namespace vostrane {
namespace {

MSIINSTALLCONTEXT msi_context(InstallContext context) {
    switch (context) {
        case InstallContext::user_managed:
            return MSIINSTALLCONTEXT_USERMANAGED;
        case InstallContext::user_unmanaged:
            return MSIINSTALLCONTEXT_USERUNMANAGED;
        case InstallContext::machine:
            break;
    }
    return MSIINSTALLCONTEXT_MACHINE;
}

class MsiInstalledProducts final : public InstalledProducts {
public:
    explicit MsiInstalledProducts(std::shared_ptr<SharedMsiLibrary> msi) : msi_(std::move(msi)) {}

    Result<InstalledProduct> query(std::string_view product_code, InstallContext context) override {
        auto library = msi_->get();
        RETURN_IF_FAILED(library);
        const std::u16string product = utf8_to_utf16(product_code);
        // No user SID: the user running the helper, who runs the installer;
        // the machine's context takes none.
        const auto property = [&](const wchar_t* name) {
            return msi_text([&](wchar_t* buffer, DWORD* length) {
                return (*library)->product_info(win::wide_c_str(product), nullptr, msi_context(context), name,
                                                buffer, length);
            });
        };
        const auto state = property(INSTALLPROPERTY_PRODUCTSTATE);
        if (!state && state.error() == ERROR_UNKNOWN_PRODUCT) return InstalledProduct{};
        if (!state) return failure(describe_msi_error("MsiGetProductInfoEx", state.error()));
        const auto package_code = property(INSTALLPROPERTY_PACKAGECODE);
        if (!package_code && package_code.error() == ERROR_UNKNOWN_PRODUCT) return InstalledProduct{};
        if (!package_code) return failure(describe_msi_error("MsiGetProductInfoEx", package_code.error()));
        InstalledProduct found;
        found.installed = *state == u"5";  // INSTALLSTATE_DEFAULT
        if (!package_code->empty()) found.package_code = unpacked_guid(utf16_to_utf8_lossy(*package_code));
        return found;
    }

private:
    std::shared_ptr<SharedMsiLibrary> msi_;
};

}  // namespace

std::shared_ptr<InstalledProducts> msi_installed_products(std::shared_ptr<SharedMsiLibrary> msi) {
    return std::make_shared<MsiInstalledProducts>(std::move(msi));
}

std::shared_ptr<InstalledProducts> msi_installed_products() {
    return msi_installed_products(std::make_shared<SharedMsiLibrary>());
}

}  // namespace vostrane
