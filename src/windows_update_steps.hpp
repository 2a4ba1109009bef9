#pragma once
// The run's steps as this Windows build performs them: the one place where
// every module is wired into the run.
#include "run_update.hpp"

namespace vostrane {

class WindowsUpdateSteps final : public UpdateSteps {
public:
    Status prepare_helper_log(const std::string& path) override;
    void append_log_line(const std::string& path, std::string_view message) override;
    void clear_result_file(const std::string& path) override;
    void write_result_file(const std::string& path, const UpdateOutcome& outcome) override;

    bool is_msi_package(const std::string& msi_path) override;
    Result<std::unique_ptr<PackageLock>> lock_package(const std::string& msi_path) override;
    Result<std::string> compute_package_digest(PackageLock& package) override;
    void release_package(PackageLock& package) override;
    Status verify_update_signature(std::string_view version, std::string_view digest, std::string_view signature,
                                   std::string_view key_id, std::string_view algorithm) override;
    void delete_package(const std::string& msi_path, const PackageLock& package) override;
    Result<std::u16string> confirm_installer_package(const PackageLock& package) override;

    Status wait_for_parent_exit(std::uint32_t process_id, const std::string& log_path) override;
    std::optional<std::u16string> locate_installer() override;
    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const UpdateOptions& options) override;
    void restart_application(const UpdateOptions& options, const std::string& log_path) override;
};

}  // namespace vostrane
