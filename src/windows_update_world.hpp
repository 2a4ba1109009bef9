#pragma once
// The run's world as this Windows build meets it: the one place where every
// module is wired into the run.
#include <memory>

#include "update_security/installed_product.hpp"
#include "update_world.hpp"

namespace vostrane {

// The modules' real steps: the helper log and result file, the package lock
// and checks, the parent wait, Windows Installer and the shell.
class WindowsUpdateWorld : public UpdateWorld {
public:
    // Asks msi.dll what Windows Installer has registered.
    WindowsUpdateWorld();
    // Asks these registrations instead.
    explicit WindowsUpdateWorld(std::shared_ptr<InstalledProducts> installed_products);

    Status prepare_helper_log(const std::u16string& log_path) override;
    void append_log_line(const std::u16string& log_path, std::string_view message) override;
    void clear_result_file(const std::u16string& result_path) override;
    void write_result_file(const std::u16string& result_path, const UpdateOutcome& outcome) override;

    bool is_msi_package(const std::u16string& msi_path) override;
    Result<std::unique_ptr<CheckedPackage>> lock_package(const std::u16string& msi_path) override;
    Status verify_update_signature(std::string_view version, std::string_view digest, std::string_view signature,
                                   std::string_view key_id, std::string_view algorithm) override;

    Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) override;
    std::optional<std::u16string> locate_installer() override;
    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const std::u16string& install_dir, const std::u16string& msi_log_path) override;
    void restart_application(const std::u16string& app_path, const std::u16string& install_dir,
                             const std::u16string& log_path) override;

private:
    // The run's one msi.dll, from the package's reading to the confirmation
    // after the installer, freed with the world.
    std::shared_ptr<SharedMsiLibrary> msi_;
    std::shared_ptr<InstalledProducts> installed_products_;
};

}  // namespace vostrane
