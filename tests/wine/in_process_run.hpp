#pragma once
// Runs of the whole helper with stand-ins for Windows Installer and the shell:
// a small program placed as msiexec.exe and explorer.exe records the command
// line it got and exits with the code it is told.
//
// Wine sets SystemRoot=C:\windows in every process it starts, whatever its
// parent had, so runs that need another SystemRoot (or none) drive the real
// steps, exactly as the entry wires them, inside the test process.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "run_fixture.hpp"
#include "run_update.hpp"
#include "stub_record.hpp"
#include "unicode.hpp"
#include "windows_update_world.hpp"

namespace vostrane::testing {

// The records in the file once it holds `count` of them: the relaunched shell
// is not waited for, so its record may come a moment after the run.
inline std::vector<StubRecord> wait_for_records(const std::filesystem::path& file, std::size_t count) {
    std::optional<std::vector<StubRecord>> records;
    // Up to 30 s: a machine busy with other tests can be slow to start the shell.
    for (int attempt = 0; attempt < 600; ++attempt) {
        records = parse_stub_records(read_file(file));
        if (records && records->size() >= count) break;
        ::Sleep(50);
    }
    EXPECT_TRUE(records) << "malformed record: " << read_file(file);
    return records.value_or(std::vector<StubRecord>{});
}

// A Windows directory of our own: SystemRoot points at it, with the stub as
// System32\msiexec.exe and as explorer.exe; both append to one record file.
// The installer stand-in installs the package it is given, as the real one
// would, since the helper asks Windows Installer what was installed.
class FakeSystemRoot {
public:
    explicit FakeSystemRoot(bool with_installer = true)
        : system_root_(L"SystemRoot", root_.path().wstring()),
          record_(L"VOSTRANE_STUB_RECORD", (root_ / L"record.txt").wstring()),
          install_(L"VOSTRANE_STUB_INSTALL", L"1") {
        std::filesystem::create_directories(root_ / L"System32");
        if (with_installer) std::filesystem::copy_file(stub(), installer());
        std::filesystem::copy_file(stub(), shell());
    }

    static std::filesystem::path stub() { return build_file(L"stub-program.exe"); }
    [[nodiscard]] std::filesystem::path installer() const { return root_ / L"System32\\msiexec.exe"; }
    [[nodiscard]] std::filesystem::path shell() const { return root_ / L"explorer.exe"; }

    // What the stubs recorded, in the order they ran, once `count` have.
    [[nodiscard]] std::vector<StubRecord> records(std::size_t count) const {
        return wait_for_records(root_ / L"record.txt", count);
    }

private:
    TempDir root_;
    ScopedEnvironmentVariable system_root_;
    ScopedEnvironmentVariable record_;
    ScopedEnvironmentVariable install_;
};

// The installer's command line as the helper must write it for these files.
inline std::string installer_command_line(const RunFiles& files, const std::string& program) {
    return "\"" + program + "\" /i " + utf8(files.msi) + " /passive /norestart \"INSTALLDIR=" +
           utf8(files.install_dir) + "\\\" VOSTRANE_INSTALLDIR_LOCK=1 /L*v " + utf8(files.msi_log);
}

// The files of a run whose package passes every check, the installation
// directory (with a space and a final backslash) and the application present.
struct VerifiedRun {
    TempDir dir;
    std::optional<FreshProduct> installable;  // uninstalled before the folder goes
    RunFiles files = files_in(dir);
    std::vector<std::wstring> arguments;

    // With a package the build made, instead of the installable one.
    explicit VerifiedRun(const std::wstring& parent_process_id = L"0", const std::wstring& package = {}) {
        files.install_dir = dir / L"Program Files\\Sample App\\";
        files.app = files.install_dir / L"app.exe";
        std::filesystem::create_directories(files.install_dir);
        write_file(files.app, "the application");
        if (package.empty()) installable.emplace(built_package(L"stand-in-app"));
        const std::string bytes = package.empty() ? installable->bytes() : read_file(built_package(package));
        write_file(files.msi, bytes);
        RunOptions options = signed_options(bytes, "1.0.0");
        options.parent_process_id = parent_process_id;
        arguments = arguments_for(files, options);
    }

    // The installer's command line as the helper must write it.
    [[nodiscard]] std::string installer_command_line(const std::string& program) const {
        return testing::installer_command_line(files, program);
    }
};

// What the process entry would do with these arguments, in this process.
struct InProcessRun {
    std::uint32_t exit_code = 0;
    std::string standard_error;  // the early failure's line, as the entry writes it
};

inline InProcessRun run_in_process(const std::vector<std::wstring>& arguments, UpdateWorld& world) {
    std::vector<std::string> utf8_arguments;
    for (const auto& argument : arguments) {
        utf8_arguments.push_back(*utf16_to_utf8(std::u16string(argument.begin(), argument.end())));
    }
    const RunResult result = run_update(utf8_arguments, world);
    return {result.exit_code, result.is_early_failure() ? result.message() + "\n" : ""};
}

inline InProcessRun run_in_process(const std::vector<std::wstring>& arguments) {
    WindowsUpdateWorld world;
    return run_in_process(arguments, world);
}

// Registrations that know no product: for tests of what the inspection reads,
// whatever the prefix has installed meanwhile.
class NothingRegistered final : public InstalledProducts {
public:
    Result<InstalledProduct> query(std::string_view, InstallContext) override { return InstalledProduct{}; }
};

// A macro, not a function: GTEST_SKIP returns from the function it is written in,
// and only the test body's return ends the test.
#define SKIP_UNLESS_DEVELOPMENT_KEY()                                  \
    if (!::vostrane::testing::build_embeds_development_key())          \
    GTEST_SKIP() << "this build embeds a publisher key; packages signed here with the development key cannot pass"

// "Application restart requested through {shell} with process id {digits}."
inline bool is_restart_line(const std::string& line, const std::string& shell) {
    const std::string prefix = "Application restart requested through " + shell + " with process id ";
    if (!line.starts_with(prefix) || !line.ends_with(".")) return false;
    const std::string digits = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

// The real steps, with a fault let in just before one of them, once.
class WorldWithAFault final : public WindowsUpdateWorld {
public:
    enum class Before { lock, check_contents, wait, install, delete_package, write_result };
    WorldWithAFault(Before when, std::function<void()> fault) : when_(when), fault_(std::move(fault)) {}

    void write_result_file(const std::u16string& path, const UpdateOutcome& outcome) override {
        at(Before::write_result);
        WindowsUpdateWorld::write_result_file(path, outcome);
    }
    Result<std::unique_ptr<CheckedPackage>> lock_package(const std::u16string& path) override {
        at(Before::lock);
        auto package = WindowsUpdateWorld::lock_package(path);
        if (!package) return package;
        return std::make_unique<PackageWithAFault>(std::move(*package), *this);
    }
    Status wait_for_parent_exit(std::uint32_t process_id, const std::u16string& log_path) override {
        at(Before::wait);
        return WindowsUpdateWorld::wait_for_parent_exit(process_id, log_path);
    }
    Result<std::int32_t> run_installer(const std::u16string& program, const std::u16string& package_path,
                                       const std::u16string& install_dir, const std::u16string& msi_log_path) override {
        at(Before::install);
        return WindowsUpdateWorld::run_installer(program, package_path, install_dir, msi_log_path);
    }

private:
    // The real package, with the same fault before its own steps.
    class PackageWithAFault final : public CheckedPackage {
    public:
        PackageWithAFault(std::unique_ptr<CheckedPackage> real, WorldWithAFault& world)
            : real_(std::move(real)), world_(world) {}
        Result<std::string> digest() override { return real_->digest(); }
        Status check_contents(std::string_view signed_version) override {
            world_.at(Before::check_contents);
            return real_->check_contents(signed_version);
        }
        [[nodiscard]] Result<std::u16string> confirm_installer_path() const override {
            return real_->confirm_installer_path();
        }
        void release() override { real_->release(); }
        void delete_if_unchanged() const override {
            world_.at(Before::delete_package);
            real_->delete_if_unchanged();
        }
        [[nodiscard]] Status confirm_installed() const override { return real_->confirm_installed(); }

    private:
        std::unique_ptr<CheckedPackage> real_;
        WorldWithAFault& world_;
    };

    void at(Before step) {
        if (step == when_ && fault_) std::exchange(fault_, nullptr)();
    }

    Before when_;
    std::function<void()> fault_;
};

}  // namespace vostrane::testing
